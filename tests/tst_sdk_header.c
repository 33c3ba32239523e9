/* Compiled as C99: the camera library's header must be plain C. The record
 * layouts seen from C are reported to tst_sdk_header.cpp, which compares
 * them with C++'s view of the same records. */
#include "MvCameraControl.h"

#include <stddef.h>

size_t mvcc_c_layout(unsigned int index)
{
    const size_t layout[] = {
        sizeof(MV_FRAME_OUT_INFO_EX),
        offsetof(MV_FRAME_OUT_INFO_EX, nFrameLen),
        offsetof(MV_FRAME_OUT_INFO_EX, nHostTimeStamp),
        sizeof(MV_CC_DEVICE_INFO),
        offsetof(MV_CC_DEVICE_INFO, SpecialInfo),
        sizeof(MV_GIGE_DEVICE_INFO),
        sizeof(MV_USB3_DEVICE_INFO),
        sizeof(MV_CC_DEVICE_INFO_LIST),
        sizeof(MV_CC_PIXEL_CONVERT_PARAM),
        offsetof(MV_CC_PIXEL_CONVERT_PARAM, nDstBufferSize),
        sizeof(MVCC_INTVALUE_EX),
        sizeof(MVCC_FLOATVALUE),
        sizeof(MVCC_ENUMVALUE),
        sizeof(MV_NETTRANS_INFO),
        sizeof(MV_MATCH_INFO_USB_DETECT),
        sizeof(MV_ALL_MATCH_INFO),
        sizeof(MV_SAVE_IMG_TO_FILE_PARAM),
        offsetof(MV_SAVE_IMG_TO_FILE_PARAM, pImagePath),
        offsetof(MV_SAVE_IMG_TO_FILE_PARAM, iMethodValue),
        sizeof(bool),
    };
    return index < sizeof layout / sizeof layout[0] ? layout[index] : 0;
}

/* Calls the library from C: the null handle is refused by every call. */
int mvcc_c_calls_with_null_handle(void)
{
    bool flag = false;
    MVCC_INTVALUE_EX value;
    int refused = 0;
    refused += MV_CC_OpenDevice(NULL, MV_ACCESS_Exclusive, 0) == (int)MV_E_HANDLE;
    refused += MV_CC_GetBoolValue(NULL, "AcquisitionLineRateEnable", &flag) == (int)MV_E_HANDLE;
    refused += MV_CC_GetIntValueEx(NULL, "Width", &value) == (int)MV_E_HANDLE;
    refused += MV_CC_DestroyHandle(NULL) == (int)MV_E_HANDLE;
    return refused;
}
