/* Compiled as C99: the camera library's header must be plain C. */
#include "MvCameraControl.h"

#include <stddef.h>

/* The record layouts C sees, for the camera library test to compare with C++'s. */
size_t mvcc_c_layout(unsigned int index)
{
    const size_t layout[] = {sizeof(MV_FRAME_OUT_INFO_EX),
                             offsetof(MV_FRAME_OUT_INFO_EX, nHostTimeStamp),
                             sizeof(MV_CC_DEVICE_INFO),
                             sizeof(MV_CC_PIXEL_CONVERT_PARAM),
                             sizeof(MV_NETTRANS_INFO),
                             sizeof(MV_MATCH_INFO_USB_DETECT),
                             offsetof(MV_SAVE_IMG_TO_FILE_PARAM, iMethodValue)};
    return index < sizeof layout / sizeof layout[0] ? layout[index] : 0;
}

int mvcc_c_open_null_handle(void)
{
    return MV_CC_OpenDevice(NULL, MV_ACCESS_Exclusive, 0);
}
