#include "test_streams.h"

#include <cstdint>
#include <fstream>
#include <iterator>
#include <vector>

#include "gui_support.h"

namespace tarnwell::gui {

std::string stream_path(const std::string& file) {
  return windows_path(std::string(TARNWELL_STREAMS_DIR) + "/" + file);
}

std::string make_damaged_stream(const std::string& work_dir) {
  std::ifstream in(stream_path(kX264Stream), std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.empty()) return {};

  // The first slice of a picture: type 1 or 5 with first_mb_in_slice 0,
  // whose ue(v) code is the single bit 1.
  int pictures = 0;
  std::size_t insert_at = 0;
  for (std::size_t i = 0; i + 4 < bytes.size(); ++i) {
    if (bytes[i] != 0 || bytes[i + 1] != 0 || bytes[i + 2] != 1) continue;
    const uint8_t header = bytes[i + 3];
    const int type = header & 0x1F;
    const bool first_slice = (type == 1 || type == 5) && (bytes[i + 4] & 0x80) != 0;
    if (!first_slice) continue;
    if (pictures++ == kDamagedPicture) {
      insert_at = i > 0 && bytes[i - 1] == 0 ? i - 1 : i;  // in front of a four-byte start code
      break;
    }
  }
  if (insert_at == 0) return {};

  // nal_ref_idc 0, nal_unit_type 23 (reserved), two payload bytes.
  const uint8_t damaged[] = {0x00, 0x00, 0x00, 0x01, 0x17, 0x54, 0x57};
  bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(insert_at), std::begin(damaged), std::end(damaged));

  const std::string path = work_dir + "/damaged_x264.264";
  std::ofstream out(windows_path(path), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return out ? windows_path(path) : std::string();
}

}  // namespace tarnwell::gui
