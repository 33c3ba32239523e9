#include "pixelformatname.h"

#include "MvCameraControl.h"

#include <cstring>

namespace {

struct NamedFormat {
    unsigned int code;
    const char *name;
};

// The standard codes a line-scan camera may announce, converted or not.
constexpr NamedFormat namedFormats[] = {
    {0x01080001u, "Mono8"},      {0x01100003u, "Mono10"},        {0x01100005u, "Mono12"},
    {0x01100025u, "Mono14"},     {0x01100007u, "Mono16"},        {0x010A0046u, "Mono10p"},
    {0x010C0047u, "Mono12p"},    {0x010C0004u, "Mono10Packed"},  {0x010C0006u, "Mono12Packed"},
    {0x01080008u, "BayerGR8"},   {0x01080009u, "BayerRG8"},      {0x0108000Au, "BayerGB8"},
    {0x0108000Bu, "BayerBG8"},   {0x0110000Cu, "BayerGR10"},     {0x0110000Du, "BayerRG10"},
    {0x0110000Eu, "BayerGB10"},  {0x0110000Fu, "BayerBG10"},     {0x01100010u, "BayerGR12"},
    {0x01100011u, "BayerRG12"},  {0x01100012u, "BayerGB12"},     {0x01100013u, "BayerBG12"},
    {0x0110002Eu, "BayerGR16"},  {0x0110002Fu, "BayerRG16"},     {0x01100030u, "BayerGB16"},
    {0x01100031u, "BayerBG16"},  {0x02180014u, "RGB8"},          {0x02180015u, "BGR8"},
    {0x02200016u, "RGBa8"},      {0x02200017u, "BGRa8"},         {0x02100032u, "YUV422_8"},
    {0x0210003Bu, "YCbCr422_8"}, {0x0210001Fu, "YUV422_8_UYVY"}, {0x020C001Eu, "YUV411_8_UYYVYY"},
    {0x02180020u, "YUV8_UYV"},
};

} // namespace

QString pixelFormatName(unsigned int pixelType)
{
    for (const NamedFormat &known : namedFormats)
        if (known.code == pixelType)
            return QString::fromLatin1(known.name);
    return QStringLiteral("0x")
        + QString::number(pixelType, 16).rightJustified(8, QLatin1Char('0')).toUpper();
}

bool libraryConvertsPixelFormat(unsigned int pixelType)
{
    // Two lines of two pixels of up to 64 bits each; the library only asks
    // that the source hold the frame.
    unsigned char source[32] = {};
    unsigned char target[12] = {};
    MV_CC_PIXEL_CONVERT_PARAM param;
    std::memset(&param, 0, sizeof param);
    param.nWidth = 2;
    param.nHeight = 2;
    param.enSrcPixelType = pixelType;
    param.pSrcData = source;
    param.nSrcDataLen = sizeof source;
    param.enDstPixelType = PixelType_Gvsp_RGB8_Packed;
    param.pDstBuffer = target;
    param.nDstBufferSize = sizeof target;
    return MV_CC_ConvertPixelType(nullptr, &param) == MV_OK;
}

QString unsupportedPixelFormatText(unsigned int pixelType)
{
    return QStringLiteral("Pixel format %1 is not supported").arg(pixelFormatName(pixelType));
}
