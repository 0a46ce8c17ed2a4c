// The committed pictures of res/: the barcode read back by an independent
// Data Matrix decoder, and the formats the resource script promises.

#include <gtest/gtest.h>

#include <dmtx.h>

#include <QImage>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace qor {
namespace {

const std::string kResDir = QOR_RES_DIR;

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Bits per pixel from a BMP's info header; 0 when it is no BMP.
int bmpBitsPerPixel(const std::vector<uint8_t>& bmp) {
    if (bmp.size() < 30 || bmp[0] != 'B' || bmp[1] != 'M') {
        return 0;
    }
    return bmp[28] | (bmp[29] << 8);
}

struct Decoded {
    std::string text;
    int rows = 0;
    int columns = 0;
};

Decoded decodeDataMatrix(const QImage& picture) {
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    std::vector<unsigned char> pixels;
    for (int y = 0; y < rgb.height(); ++y) {
        const uchar* line = rgb.constScanLine(y);
        pixels.insert(pixels.end(), line, line + rgb.width() * 3);
    }
    Decoded decoded;
    DmtxImage* image = dmtxImageCreate(pixels.data(), rgb.width(), rgb.height(), DmtxPack24bppRGB);
    DmtxDecode* decoder = dmtxDecodeCreate(image, 1);
    if (DmtxRegion* region = dmtxRegionFindNext(decoder, nullptr)) {
        if (DmtxMessage* message = dmtxDecodeMatrixRegion(decoder, region, DmtxUndefined)) {
            decoded.text.assign(reinterpret_cast<const char*>(message->output), message->outputIdx);
            decoded.rows = dmtxGetSymbolAttribute(DmtxSymAttribSymbolRows, region->sizeIdx);
            decoded.columns = dmtxGetSymbolAttribute(DmtxSymAttribSymbolCols, region->sizeIdx);
            dmtxMessageDestroy(&message);
        }
        dmtxRegionDestroy(&region);
    }
    dmtxDecodeDestroy(&decoder);
    dmtxImageDestroy(&image);
    return decoded;
}

TEST(BarcodePicture, ReadsAsTheUpdateModeCommandInA14By14Symbol) {
    std::string command;
    std::ifstream(kResDir + "/barcode_command.txt") >> command;
    ASSERT_EQ(command.size(), 7u);

    const QImage picture(QString::fromStdString(kResDir + "/barcode.bmp"));
    ASSERT_FALSE(picture.isNull());
    const Decoded decoded = decodeDataMatrix(picture);
    EXPECT_EQ(decoded.text, command);
    EXPECT_EQ(decoded.rows, 14);
    EXPECT_EQ(decoded.columns, 14);
}

// The copy for printing, as installed (QOR_PRINTABLE_BARCODE names the
// installed file when a package is checked; otherwise the one the build
// installs): the window's command, at 600 dpi and big enough to scan.
TEST(BarcodePicture, PrintableCopyReadsAsTheWindowsAtPrintSize) {
    const char* installed = std::getenv("QOR_PRINTABLE_BARCODE");
    const std::string path = installed != nullptr ? installed : kResDir + "/update-barcode.png";
    const QImage window(QString::fromStdString(kResDir + "/barcode.bmp"));
    const QImage printable(QString::fromStdString(path));
    ASSERT_FALSE(printable.isNull()) << path;
    const Decoded decoded = decodeDataMatrix(printable);
    EXPECT_EQ(decoded.text, decodeDataMatrix(window).text);
    EXPECT_EQ(decoded.rows, 14);
    EXPECT_EQ(decoded.columns, 14);
    constexpr int kDotsPerMetreAt600Dpi = 23622;
    EXPECT_EQ(printable.dotsPerMeterX(), kDotsPerMetreAt600Dpi);
    EXPECT_EQ(printable.dotsPerMeterY(), kDotsPerMetreAt600Dpi);
    const double millimetres = 1000.0 * printable.width() / printable.dotsPerMeterX();
    EXPECT_GE(millimetres, 20.0);
}

TEST(BarcodePicture, Is96By96With5PixelModulesCorneredAt12And10) {
    const std::vector<uint8_t> bmp = readFile(kResDir + "/barcode.bmp");
    EXPECT_EQ(bmpBitsPerPixel(bmp), 24);
    const QImage picture(QString::fromStdString(kResDir + "/barcode.bmp"));
    ASSERT_EQ(picture.size(), QSize(96, 96));
    // Every dark pixel lies in the 70 x 70 symbol; its finder pattern's
    // solid left column and bottom row are the edges of that square.
    QRect dark;
    for (int y = 0; y < 96; ++y) {
        for (int x = 0; x < 96; ++x) {
            const QRgb pixel = picture.pixel(x, y);
            if (pixel == qRgb(0, 0, 0)) {
                dark |= QRect(x, y, 1, 1);
            } else {
                EXPECT_EQ(pixel, qRgb(255, 255, 255)) << x << "," << y;
            }
        }
    }
    EXPECT_EQ(dark, QRect(12, 10, 70, 70));
    for (int y = 10; y < 80; ++y) {
        EXPECT_EQ(picture.pixel(12, y), qRgb(0, 0, 0)) << y;
    }
    // A module is 5 pixels: the top row's clock alternates every 5.
    for (int x = 12; x < 82; ++x) {
        const bool darkModule = ((x - 12) / 5) % 2 == 0;
        EXPECT_EQ(picture.pixel(x, 10) == qRgb(0, 0, 0), darkModule) << x;
    }
}

struct PictureCase {
    const char* name;
    const char* file;
    int size;
};

class Pictures : public ::testing::TestWithParam<PictureCase> {};

TEST_P(Pictures, HaveTheirSizeIn24Bits) {
    const std::string path = kResDir + "/" + GetParam().file;
    const QImage picture(QString::fromStdString(path));
    ASSERT_FALSE(picture.isNull()) << path;
    EXPECT_EQ(picture.size(), QSize(GetParam().size, GetParam().size));
    EXPECT_FALSE(picture.hasAlphaChannel());
    if (path.ends_with(".bmp")) {
        EXPECT_EQ(bmpBitsPerPixel(readFile(path)), 24);
    } else {
        EXPECT_EQ(picture.depth(), 32);  // RGB, stored as 0xffRRGGBB
        EXPECT_FALSE(picture.isGrayscale());
    }
}

INSTANTIATE_TEST_SUITE_P(Res, Pictures,
                         ::testing::Values(PictureCase{"Logo", "logo.bmp", 96},
                                           PictureCase{"Icon256", "icon-256.png", 256},
                                           PictureCase{"Icon128", "icon-128.png", 128},
                                           PictureCase{"Icon64", "icon-64.png", 64},
                                           PictureCase{"Icon48", "icon-48.png", 48},
                                           PictureCase{"Icon32", "icon-32.png", 32},
                                           PictureCase{"Icon16", "icon-16.png", 16}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(IconGroup, Holds256And48And32And16PixelImagesOf24Bits) {
    const std::vector<uint8_t> ico = readFile(kResDir + "/qor-updater.ico");
    ASSERT_GE(ico.size(), 6u);
    const int count = ico[4] | (ico[5] << 8);
    ASSERT_EQ(count, 4);
    const int sizes[] = {256, 48, 32, 16};
    for (int i = 0; i < count; ++i) {
        const uint8_t* entry = ico.data() + 6 + 16 * i;
        // An entry of 256 pixels gives its size as 0.
        EXPECT_EQ(entry[0], sizes[i] % 256);
        EXPECT_EQ(entry[1], sizes[i] % 256);
        EXPECT_EQ(entry[6] | (entry[7] << 8), 24) << "entry " << i;
    }
}

}  // namespace
}  // namespace qor
