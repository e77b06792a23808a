#pragma once
// Control ids of dialog template 101. The numbers are the dialog's own and are
// what every front end (Win32, console, test fake) uses to name a control.

namespace tarnwell {

enum ControlId : int {
  kEditStreamPath = 1001,
  kButtonCheck = 1002,
  kButtonBrowse = 1003,
  kEditBufferSize = 1004,
  kEditInitialFill = 1005,
  kEditBitRate = 1006,
  kCheckStrictOverflow = 1007,
  kEditFrameRate = 1008,
  kProgressFile = 1009,
  kButtonAbort = 1010,
  kButtonHrdInfo = 1012,
  kProgressFullness = 1013,
  kLabelProgress = 1014,
  kLabelFullness = 1015,
  kEditProfile = 1016,
  kEditLevel = 1017,
};

inline constexpr int kDialogTemplate = 101;
inline constexpr int kDialogIcon = 102;

}  // namespace tarnwell
