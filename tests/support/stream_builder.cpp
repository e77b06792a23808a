#include "support/stream_builder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <random>

namespace tarnwell::test {

std::vector<uint8_t> add_emulation_prevention(const std::vector<uint8_t>& rbsp) {
  std::vector<uint8_t> payload;
  payload.reserve(rbsp.size() + rbsp.size() / 64 + 1);
  int zeros = 0;
  for (uint8_t b : rbsp) {
    if (zeros == 2 && b <= 0x03) {
      payload.push_back(0x03);
      zeros = 0;
    }
    payload.push_back(b);
    zeros = b == 0 ? zeros + 1 : 0;
  }
  // An RBSP that ends in two zero bytes (cabac_zero_words) gets a final 0x03,
  // so the zeros are not taken for zero bytes in front of a start code.
  if (zeros == 2) payload.push_back(0x03);
  return payload;
}

StreamBuilder& StreamBuilder::nal(int nal_ref_idc, int nal_unit_type, const std::vector<uint8_t>& rbsp,
                                  int start_code_bytes) {
  EXPECT_TRUE(nal_ref_idc >= 0 && nal_ref_idc <= 3) << "nal_ref_idc " << nal_ref_idc;
  EXPECT_TRUE(nal_unit_type >= 0 && nal_unit_type <= 31) << "nal_unit_type " << nal_unit_type;
  return nal_with_header(static_cast<uint8_t>(((nal_ref_idc & 3) << 5) | (nal_unit_type & 0x1F)), rbsp,
                         start_code_bytes);
}

StreamBuilder& StreamBuilder::nal(int nal_ref_idc, int nal_unit_type, const BitWriter& rbsp, int start_code_bytes) {
  return nal(nal_ref_idc, nal_unit_type, rbsp.data(), start_code_bytes);
}

StreamBuilder& StreamBuilder::nal_with_header(uint8_t header, const std::vector<uint8_t>& rbsp, int start_code_bytes) {
  EXPECT_TRUE(start_code_bytes == 3 || start_code_bytes == 4) << "start code of " << start_code_bytes << " bytes";
  if (start_code_bytes == 4) bytes_.push_back(0x00);
  bytes_.insert(bytes_.end(), {0x00, 0x00, 0x01, header});
  std::vector<uint8_t> payload = add_emulation_prevention(rbsp);
  bytes_.insert(bytes_.end(), payload.begin(), payload.end());
  nal_sizes_.push_back(static_cast<uint32_t>(1 + rbsp.size()));
  return *this;
}

StreamBuilder& StreamBuilder::raw(const std::vector<uint8_t>& bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

TempStreamFile::TempStreamFile(const std::vector<uint8_t>& bytes) {
  std::random_device device;
  std::seed_seq seed{device(), device(),
                     static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()),
                     static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(this))};
  std::mt19937_64 random(seed);
  char name[64];
  std::snprintf(name, sizeof name, "tarnwell-test-%016llx.264", static_cast<unsigned long long>(random()));
  std::error_code error;
  std::filesystem::path dir = std::filesystem::temp_directory_path(error);
  path_ = ((error ? std::filesystem::path(".") : dir) / name).string();
  file_ = std::fopen(path_.c_str(), "w+b");
  if (file_ == nullptr) {
    ADD_FAILURE() << "cannot create " << path_;
    return;
  }
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
    ADD_FAILURE() << "cannot write " << path_;
  }
  std::fflush(file_);
  std::rewind(file_);
}

TempStreamFile::~TempStreamFile() {
  close();
  std::error_code error;
  std::filesystem::remove(path_, error);
}

void TempStreamFile::close() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
}

}  // namespace tarnwell::test
