// Placeholder until the library lands: every call reports "not supported".
#include "MvCameraControl.h"
extern "C" {
int MV_CC_EnumDevices(unsigned int, MV_CC_DEVICE_INFO_LIST *) { return MV_E_SUPPORT; }
}
