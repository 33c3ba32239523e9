/*
 * MVCameraControl: the camera library of Corvista.
 *
 * A plain C interface on one opaque handle per camera. Every call returns a
 * 32-bit status: MV_OK (0) on success, one of the MV_E_* codes otherwise.
 * Behind it sit backends (the built-in simulator, GenICam cameras through
 * Aravis) chosen by the environment variable CORVISTA_CAMERAS.
 *
 * Ownership: records handed out by MV_CC_EnumDevices belong to the library and
 * stay valid until the next enumeration. Buffers passed in are borrowed for the
 * duration of the call.
 */
#ifndef MV_CAMERA_CONTROL_H
#define MV_CAMERA_CONTROL_H

#include <stdbool.h>
#include <stdint.h>

#if defined(MVCAMERACONTROL_BUILD)
#define MV_CAMCTRL_API __attribute__((visibility("default")))
#else
#define MV_CAMCTRL_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Status codes ------------------------------------------------------ */
#define MV_OK 0x00000000
#define MV_E_HANDLE 0x80000000      /* null, unknown or destroyed handle */
#define MV_E_SUPPORT 0x80000001     /* operation or pixel format not supported */
#define MV_E_BUFOVER 0x80000002     /* caller's buffer too small */
#define MV_E_CALLORDER 0x80000003   /* wrong call order (e.g. grab before open) */
#define MV_E_PARAMETER 0x80000004   /* bad parameter */
#define MV_E_RESOURCE 0x80000006    /* out of memory or another resource */
#define MV_E_NODATA 0x80000007      /* no frame arrived within the timeout */
#define MV_E_ACCESS 0x80000008      /* device already opened by someone else */
#define MV_E_NODEVICE 0x80000009    /* device gone: unplugged, heartbeat lost */
#define MV_E_NOTFOUND 0x8000000A    /* no feature of that name */
#define MV_E_TYPE 0x8000000B        /* the feature has another type */
#define MV_E_RANGE 0x8000000C       /* value outside the feature's range */
#define MV_E_ACCESS_RW 0x8000000D   /* feature not readable or not writable now */
#define MV_E_WRITEFILE 0x8000000E   /* a file could not be written */
#define MV_E_CONVERT 0x8000000F     /* pixel conversion failed */
#define MV_E_UNKNOWN 0x800000FF     /* anything else */

/* ---- Transport layers ------------------------------------------------- */
#define MV_GIGE_DEVICE 0x00000001
#define MV_USB_DEVICE 0x00000004

#define MV_MAX_DEVICE_NUM 256

/* ---- Access modes ----------------------------------------------------- */
#define MV_ACCESS_Exclusive 1
#define MV_ACCESS_Control 3
#define MV_ACCESS_Monitor 7

/* ---- Pixel types (GigE Vision pixel format codes) --------------------- */
typedef unsigned int MvGvspPixelType;
#define PixelType_Gvsp_Undefined 0x00000000u
/* Bits 16..23 of a code hold its bits per pixel. Mono10, Mono12 and Mono16
 * are one little-endian 16-bit word a pixel; Mono10p and Mono12p a bit stream
 * filled from the least significant bit; Mono12_Packed two pixels in three
 * bytes (high 8 bits, two low nibbles, high 8 bits). YUV422_8 and YCBCR422_8
 * are Y0 U Y1 V. Every one converts to RGB8; gray formats show their 8 most
 * significant bits. */
#define PixelType_Gvsp_Mono8 0x01080001u
#define PixelType_Gvsp_Mono10 0x01100003u
#define PixelType_Gvsp_Mono12 0x01100005u
#define PixelType_Gvsp_Mono16 0x01100007u
#define PixelType_Gvsp_Mono10p 0x010A0046u
#define PixelType_Gvsp_Mono12p 0x010C0047u
#define PixelType_Gvsp_Mono12_Packed 0x010C0006u
#define PixelType_Gvsp_BayerGR8 0x01080008u
#define PixelType_Gvsp_BayerRG8 0x01080009u
#define PixelType_Gvsp_BayerGB8 0x0108000Au
#define PixelType_Gvsp_BayerBG8 0x0108000Bu
#define PixelType_Gvsp_RGB8_Packed 0x02180014u
#define PixelType_Gvsp_BGR8_Packed 0x02180015u
#define PixelType_Gvsp_YUV422_8 0x02100032u
#define PixelType_Gvsp_YCBCR422_8 0x0210003Bu
/* Pixel types with the top bit set are vendor-specific and cannot be saved. */
#define PixelType_Gvsp_CustomFlag 0x80000000u

/* ---- Device records --------------------------------------------------- */
typedef struct _MV_GIGE_DEVICE_INFO_ {
    unsigned int nIpCfgOption;
    unsigned int nIpCfgCurrent;
    unsigned int nCurrentIp;          /* IPv4, most significant byte first */
    unsigned int nCurrentSubNetMask;
    unsigned int nDefultGateWay;
    unsigned char chManufacturerName[32];
    unsigned char chModelName[32];
    unsigned char chDeviceVersion[32];
    unsigned char chManufacturerSpecificInfo[48];
    unsigned char chSerialNumber[16];
    unsigned char chUserDefinedName[16];
    unsigned int nNetExport;          /* host interface address */
    unsigned int nReserved[4];
} MV_GIGE_DEVICE_INFO;

#define INFO_MAX_BUFFER_SIZE 64

typedef struct _MV_USB3_DEVICE_INFO_ {
    unsigned short idVendor;
    unsigned short idProduct;
    unsigned int nDeviceNumber;
    unsigned char chDeviceGUID[INFO_MAX_BUFFER_SIZE];
    unsigned char chVendorName[INFO_MAX_BUFFER_SIZE];
    unsigned char chModelName[INFO_MAX_BUFFER_SIZE];
    unsigned char chFamilyName[INFO_MAX_BUFFER_SIZE];
    unsigned char chDeviceVersion[INFO_MAX_BUFFER_SIZE];
    unsigned char chManufacturerName[INFO_MAX_BUFFER_SIZE];
    unsigned char chSerialNumber[INFO_MAX_BUFFER_SIZE];
    unsigned char chUserDefinedName[INFO_MAX_BUFFER_SIZE];
    unsigned int nReserved[4];
} MV_USB3_DEVICE_INFO;

typedef struct _MV_CC_DEVICE_INFO_ {
    unsigned short nMajorVer;
    unsigned short nMinorVer;
    unsigned int nMacAddrHigh;
    unsigned int nMacAddrLow;
    unsigned int nTLayerType;         /* MV_GIGE_DEVICE or MV_USB_DEVICE */
    unsigned int nReserved[4];
    union {
        MV_GIGE_DEVICE_INFO stGigEInfo;
        MV_USB3_DEVICE_INFO stUsb3VInfo;
    } SpecialInfo;
} MV_CC_DEVICE_INFO;

typedef struct _MV_CC_DEVICE_INFO_LIST_ {
    unsigned int nDeviceNum;
    MV_CC_DEVICE_INFO *pDeviceInfo[MV_MAX_DEVICE_NUM];
} MV_CC_DEVICE_INFO_LIST;

/* ---- Frames ----------------------------------------------------------- */
typedef struct _MV_FRAME_OUT_INFO_EX_ {
    unsigned int nWidth;
    unsigned int nHeight;             /* complete lines actually received */
    MvGvspPixelType enPixelType;
    unsigned int nFrameNum;
    unsigned int nDevTimeStampHigh;
    unsigned int nDevTimeStampLow;
    unsigned int nFrameLen;           /* bytes copied into the caller's buffer */
    unsigned int nLostPacket;
    int64_t nHostTimeStamp;           /* host clock, milliseconds since the epoch */
    unsigned int nReserved[54];
} MV_FRAME_OUT_INFO_EX;

typedef struct _MV_CC_PIXEL_CONVERT_PARAM_ {
    unsigned int nWidth;
    unsigned int nHeight;
    MvGvspPixelType enSrcPixelType;
    unsigned char *pSrcData;
    unsigned int nSrcDataLen;
    MvGvspPixelType enDstPixelType;
    unsigned char *pDstBuffer;
    unsigned int nDstLen;             /* out: bytes written */
    unsigned int nDstBufferSize;
    unsigned int nRes[4];
} MV_CC_PIXEL_CONVERT_PARAM;

/* ---- Feature values --------------------------------------------------- */
typedef struct _MVCC_INTVALUE_EX_ {
    int64_t nCurValue;
    int64_t nMax;
    int64_t nMin;
    int64_t nInc;
    unsigned int nReserved[16];
} MVCC_INTVALUE_EX;

typedef struct _MVCC_FLOATVALUE_ {
    float fCurValue;
    float fMax;
    float fMin;
    unsigned int nReserved[4];
} MVCC_FLOATVALUE;

#define MV_MAX_SYMBOLIC_NUM 64
typedef struct _MVCC_ENUMVALUE_ {
    unsigned int nCurValue;
    unsigned int nSupportedNum;
    unsigned int nSupportValue[MV_MAX_SYMBOLIC_NUM];
    unsigned int nReserved[4];
} MVCC_ENUMVALUE;

/* Entries of an enumeration by name, as GenICam names them ("LineStart",
 * "Encoder0", "RisingEdge"); each name zero-terminated, cut to fit. */
#define MV_MAX_SYMBOLIC_STRLEN 64
typedef struct _MVCC_ENUMENTRY_LIST_ {
    char chCurSymbolic[MV_MAX_SYMBOLIC_STRLEN];  /* the entry now in force */
    unsigned int nSupportedNum;                   /* entries listed below */
    char chSymbolic[MV_MAX_SYMBOLIC_NUM][MV_MAX_SYMBOLIC_STRLEN];
    unsigned int nReserved[4];
} MVCC_ENUMENTRY_LIST;

/* ---- Transport statistics --------------------------------------------- */
typedef struct _MV_NETTRANS_INFO_ {
    int64_t nReceiveDataSize;
    int nThrowFrameCount;             /* frames lost */
    unsigned int nNetRecvFrameCount;  /* frames received */
    int64_t nRequestResendPacketCount;
    int64_t nResendPacketCount;
} MV_NETTRANS_INFO;

#define MV_MATCH_TYPE_NET_DETECT 0x00000001
#define MV_MATCH_TYPE_USB_DETECT 0x00000002

typedef struct _MV_MATCH_INFO_USB_DETECT_ {
    int64_t nReceiveDataSize;
    unsigned int nReceivedFrameCount;
    unsigned int nErrorFrameCount;
    unsigned int nReserved[2];
} MV_MATCH_INFO_USB_DETECT;

typedef struct _MV_ALL_MATCH_INFO_ {
    unsigned int nType;               /* MV_MATCH_TYPE_* */
    void *pInfo;
    unsigned int nInfoSize;
} MV_ALL_MATCH_INFO;

/* ---- Saving a raw frame ----------------------------------------------- */
typedef enum _MV_SAVE_IAMGE_TYPE_ {
    MV_Image_Undefined = 0,
    MV_Image_Bmp = 1,
    MV_Image_Jpeg = 2,
    MV_Image_Png = 3,
    MV_Image_Tif = 4
} MV_SAVE_IAMGE_TYPE;

#define MV_MAX_PATH_LEN 256

typedef struct _MV_SAVE_IMG_TO_FILE_PARAM_ {
    MvGvspPixelType enPixelType;
    unsigned char *pData;
    unsigned int nDataLen;
    unsigned int nWidth;
    unsigned int nHeight;
    MV_SAVE_IAMGE_TYPE enImageType;
    unsigned int nQuality;            /* JPEG 55..99, PNG 0..9, else ignored */
    char pImagePath[MV_MAX_PATH_LEN]; /* zero-terminated, local 8-bit encoding */
    int iMethodValue;
    unsigned int nReserved[8];
} MV_SAVE_IMG_TO_FILE_PARAM;

/* ---- Operations ------------------------------------------------------- */
/*
 * Statuses each call returns besides MV_OK (the codes are unsigned literals:
 * compare with (int)MV_E_... or cast the result). Every call that takes a
 * handle returns MV_E_HANDLE for a null, unknown or destroyed one, except
 * MV_CC_ConvertPixelType and MV_CC_SaveImageToFile, which need no device and
 * accept a null handle. A device that has gone answers MV_E_NODEVICE to
 * everything but MV_CC_CloseDevice and MV_CC_DestroyHandle, which still
 * release it.
 *   EnumDevices        PARAMETER (null list, no known layer)
 *   CreateHandle       PARAMETER, NODEVICE (no backend knows the record)
 *   DestroyHandle      -- (closes an open device first)
 *   OpenDevice         PARAMETER (access mode), CALLORDER (already open),
 *                      ACCESS (open through another handle), NODEVICE
 *   CloseDevice        CALLORDER (not open)
 *   GetOptimalPacketSize  negative CALLORDER, SUPPORT (USB3), NODEVICE
 *   Get/Set...Value    PARAMETER (null name or result), CALLORDER (not open),
 *                      NOTFOUND, TYPE, RANGE, ACCESS_RW (read-only or locked
 *                      while grabbing)
 *   GetEnumEntries     as Get...Value; lists the entries available now (at
 *                      most MV_MAX_SYMBOLIC_NUM) and the current one by name
 *   SetEnumValueByString  as Set...Value; PARAMETER (null entry name), RANGE
 *                      (no available entry of that name)
 *   StartGrabbing      CALLORDER (not open or already grabbing)
 *   StopGrabbing       CALLORDER (not grabbing); wakes a waiting fetch
 *   GetOneFrameTimeout PARAMETER, CALLORDER (not grabbing), NODATA (timeout,
 *                      or stopped while waiting), BUFOVER (frame larger than
 *                      nDataSize: nothing written, the frame stays queued)
 *   ConvertPixelType   PARAMETER (null buffers, zero size, short source),
 *                      SUPPORT (format), BUFOVER (destination too small)
 *   GIGE_GetNetTransInfo  PARAMETER, SUPPORT (not GigE), CALLORDER
 *   GetAllMatchInfo    PARAMETER (null, too small, unknown type), SUPPORT
 *                      (type not of this transport), CALLORDER
 *   SaveImageToFile    PARAMETER (data, size, path, image type), SUPPORT
 *                      (pixel type), RESOURCE, WRITEFILE (errno tells why;
 *                      nothing is left under the name). A taken name is
 *                      not replaced: pImagePath is rewritten to the
 *                      "<name>_2.<ext>" (_3, ...) actually written
 * Feature calls, statistics and StopGrabbing may run in one thread while
 * another waits in MV_CC_GetOneFrameTimeout on the same handle.
 */
MV_CAMCTRL_API int MV_CC_EnumDevices(unsigned int nTLayerType, MV_CC_DEVICE_INFO_LIST *pstDevList);
MV_CAMCTRL_API int MV_CC_CreateHandle(void **handle, const MV_CC_DEVICE_INFO *pstDevInfo);
MV_CAMCTRL_API int MV_CC_DestroyHandle(void *handle);
MV_CAMCTRL_API int MV_CC_OpenDevice(void *handle, unsigned int nAccessMode, unsigned short nSwitchoverKey);
MV_CAMCTRL_API int MV_CC_CloseDevice(void *handle);
/* Returns the packet size in bytes (> 0), or a negative status. */
MV_CAMCTRL_API int MV_CC_GetOptimalPacketSize(void *handle);

MV_CAMCTRL_API int MV_CC_GetIntValueEx(void *handle, const char *strKey, MVCC_INTVALUE_EX *pstIntValue);
MV_CAMCTRL_API int MV_CC_SetIntValueEx(void *handle, const char *strKey, int64_t nValue);
MV_CAMCTRL_API int MV_CC_GetFloatValue(void *handle, const char *strKey, MVCC_FLOATVALUE *pstFloatValue);
MV_CAMCTRL_API int MV_CC_SetFloatValue(void *handle, const char *strKey, float fValue);
MV_CAMCTRL_API int MV_CC_GetEnumValue(void *handle, const char *strKey, MVCC_ENUMVALUE *pstEnumValue);
MV_CAMCTRL_API int MV_CC_SetEnumValue(void *handle, const char *strKey, unsigned int nValue);
MV_CAMCTRL_API int MV_CC_GetEnumEntries(void *handle, const char *strKey, MVCC_ENUMENTRY_LIST *pstEntries);
MV_CAMCTRL_API int MV_CC_SetEnumValueByString(void *handle, const char *strKey, const char *strValue);
MV_CAMCTRL_API int MV_CC_GetBoolValue(void *handle, const char *strKey, bool *pbValue);
MV_CAMCTRL_API int MV_CC_SetBoolValue(void *handle, const char *strKey, bool bValue);

MV_CAMCTRL_API int MV_CC_StartGrabbing(void *handle);
MV_CAMCTRL_API int MV_CC_StopGrabbing(void *handle);
MV_CAMCTRL_API int MV_CC_GetOneFrameTimeout(void *handle, unsigned char *pData, unsigned int nDataSize,
                                            MV_FRAME_OUT_INFO_EX *pstFrameInfo, unsigned int nMsec);

MV_CAMCTRL_API int MV_CC_ConvertPixelType(void *handle, MV_CC_PIXEL_CONVERT_PARAM *pstCvtParam);
MV_CAMCTRL_API int MV_GIGE_GetNetTransInfo(void *handle, MV_NETTRANS_INFO *pstInfo);
MV_CAMCTRL_API int MV_CC_GetAllMatchInfo(void *handle, MV_ALL_MATCH_INFO *pstInfo);
MV_CAMCTRL_API int MV_CC_SaveImageToFile(void *handle, MV_SAVE_IMG_TO_FILE_PARAM *pstSaveFileParam);

#ifdef __cplusplus
}
#endif

#endif /* MV_CAMERA_CONTROL_H */
