// Alpha removal and compositing of a 32-bit working bitmap into a 24-bit one.
#include "bitmap/ResolveAlpha.h"
#include "settings/SettingsStore.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <optional>
#include <vector>

namespace {

using Bgra = std::array<uint8_t, 4>;
using Bgr = std::array<uint8_t, 3>;

constexpr uint32_t kRemove = 0;
constexpr uint32_t kComposite = 1;
constexpr uint8_t kMarker = 0xEE;
constexpr uint8_t kWhite[3] = {255, 255, 255};

// A width x height 32-bit image whose pixel (x, y) is pixel(x, y).
template <class PixelAt>
void Allocate32(DibImage& image, uint32_t width, uint32_t height, PixelAt pixel) {
    UniqueHlocal none;
    ASSERT_EQ(image.Allocate(width, height, 32, {}, none), Success);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const Bgra p = pixel(x, y);
            std::memcpy(image.pixels() + y * image.header()->stride + 4 * x, p.data(), 4);
        }
}

void AllocateUniform(DibImage& image, uint32_t width, uint32_t height, Bgra pixel) {
    Allocate32(image, width, height, [&](uint32_t, uint32_t) { return pixel; });
}

Bgr PixelAt(const DibImage& image, uint32_t x, uint32_t y) {
    const uint8_t* p = image.pixels() + y * image.header()->stride + 3 * x;
    return {p[0], p[1], p[2]};
}

// The visible bytes of a 24-bit image, padding left out.
std::vector<uint8_t> VisibleBytes(const DibImage& image) {
    std::vector<uint8_t> bytes;
    for (uint32_t y = 0; y < image.header()->height; ++y) {
        const uint8_t* row = image.pixels() + y * image.header()->stride;
        bytes.insert(bytes.end(), row, row + 3 * image.header()->width);
    }
    return bytes;
}

PluginStatus Resolve(DibImage& image, uint32_t mode, const uint8_t background[3], unsigned workers = kAutomaticWorkers) {
    UniqueHlocal spare;
    return ResolveAlpha(image, spare, mode, background, workers);
}

TEST(DivideBy255, TruncatedQuotientForEveryBlendNumerator) {
    for (uint32_t x = 0; x <= 255 * 255; ++x) ASSERT_EQ(DivideBy255(x), x / 255) << x;
}

struct WorkedValue {
    uint8_t source;
    uint8_t background;
    uint8_t alpha;
    uint8_t result;
};

// Each value fills a row of 9 pixels, so both the four-pixel groups and the single last
// pixel compute it, on every channel.
TEST(ResolveAlphaComposite, WorkedValues) {
    const WorkedValue cases[] = {
        {255, 0, 128, 128}, {0, 255, 128, 127}, {0, 255, 1, 254},   {0, 255, 254, 1},
        {255, 0, 1, 1},     {100, 200, 100, 160}, {10, 250, 127, 130}, {77, 9, 255, 77},
        {77, 9, 0, 9},
    };
    for (const WorkedValue& c : cases) {
        SCOPED_TRACE(testing::Message() << int{c.source} << " over " << int{c.background} << " at "
                                        << int{c.alpha});
        DibImage image;
        AllocateUniform(image, 9, 2, {c.source, c.source, c.source, c.alpha});
        const uint8_t background[3] = {c.background, c.background, c.background};
        ASSERT_EQ(Resolve(image, kComposite, background), Success);
        for (uint32_t y = 0; y < 2; ++y)
            for (uint32_t x = 0; x < 9; ++x) EXPECT_EQ(PixelAt(image, x, y), Bgr({c.result, c.result, c.result})) << x;
    }
}

// Every source byte at every alpha over every background byte, each channel with its own
// values, against the formula computed plainly. Alpha changes from pixel to pixel, so the
// four-pixel groups mix alphas 0 and 255 with the others.
TEST(ResolveAlphaComposite, EveryChannelValueAlphaAndBackground) {
    auto source = [](uint32_t s) { return Bgra{uint8_t(s), uint8_t(255 - s), uint8_t(s ^ 0xA5), 0}; };
    auto alphaAt = [](uint32_t x, uint32_t y) { return (x + y) & 255; };
    for (uint32_t b = 0; b < 256; ++b) {
        DibImage image;
        Allocate32(image, 256, 256, [&](uint32_t x, uint32_t y) {
            Bgra p = source(x);
            p[3] = static_cast<uint8_t>(alphaAt(x, y));
            return p;
        });
        const uint8_t background[3] = {uint8_t(b), uint8_t(255 - b), uint8_t(b ^ 0x3C)};
        ASSERT_EQ(Resolve(image, kComposite, background, 1), Success);
        for (uint32_t y = 0; y < 256; ++y)
            for (uint32_t x = 0; x < 256; ++x) {
                const Bgra p = source(x);
                const uint32_t a = alphaAt(x, y);
                const Bgr got = PixelAt(image, x, y);
                for (int c = 0; c < 3; ++c) {
                    const uint32_t expected = (p[c] * a + background[c] * (255 - a)) / 255;
                    if (got[c] != expected)
                        FAIL() << "channel " << c << ": " << int{p[c]} << " over " << int{background[c]} << " at "
                               << a << " gave " << int{got[c]} << ", expected " << expected;
                }
            }
    }
}

struct ModeCase {
    const char* what;
    uint32_t mode;
    Bgra pixel;
    Bgr expected;
};

TEST(ResolveAlpha, ModesOnSinglePixels) {
    const uint8_t red[3] = {0, 0, 255};
    const ModeCase overWhite[] = {
        {"transparent over white", kComposite, {10, 20, 30, 0}, {255, 255, 255}},
        {"half black over white", kComposite, {0, 0, 0, 128}, {127, 127, 127}},
        {"opaque composite", kComposite, {10, 20, 30, 255}, {10, 20, 30}},
        {"transparent removed", kRemove, {10, 20, 30, 0}, {10, 20, 30}},
        {"mode 2 removes too", 2, {10, 20, 30, 0}, {10, 20, 30}},
        {"half removed", kRemove, {10, 20, 30, 128}, {10, 20, 30}},
        {"opaque removed", kRemove, {10, 20, 30, 255}, {10, 20, 30}},
    };
    for (const ModeCase& c : overWhite) {
        SCOPED_TRACE(c.what);
        DibImage image;
        AllocateUniform(image, 1, 1, c.pixel);
        ASSERT_EQ(Resolve(image, c.mode, kWhite), Success);
        EXPECT_EQ(image.header()->bitsPerPixel, 24);
        EXPECT_EQ(PixelAt(image, 0, 0), c.expected);
    }
    DibImage image;
    AllocateUniform(image, 1, 1, {10, 20, 30, 0});
    ASSERT_EQ(Resolve(image, kComposite, red), Success);
    EXPECT_EQ(PixelAt(image, 0, 0), Bgr({0, 0, 255}));
}

// Mixed alpha values, as a picture with soft edges has them.
Bgra MixedPixel(uint32_t x, uint32_t y) {
    const uint32_t n = (x * 2654435761u) ^ (y * 40503u);
    const uint8_t alphas[] = {0, 255, 255, 1, 128, 254, uint8_t(n >> 5), 255};
    return {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), alphas[(n >> 24) & 7]};
}

// The destination's padding and the block's 4 trailing bytes keep what the reused block
// held: the last pixel of each row is stored as exactly 3 bytes and no row reaches the next.
TEST(ResolveAlpha, RowsStayWithinTheirVisibleBytes) {
    for (uint32_t mode : {kRemove, kComposite}) {
        for (uint32_t width = 1; width <= 13; ++width) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << ", width " << width);
            const uint32_t height = 3;
            DibImage image;
            Allocate32(image, width, height, MixedPixel);
            DibImage reference;
            Allocate32(reference, width, height, MixedPixel);
            const size_t stride = (3 * width + 3) & ~size_t{3};
            UniqueHlocal spare(LocalAlloc(LMEM_FIXED, stride * height + 4));
            std::memset(spare.get(), kMarker, stride * height + 4);
            const HLOCAL reused = spare.get();

            ASSERT_EQ(ResolveAlpha(image, spare, mode, kWhite), Success);
            ASSERT_EQ(image.pixelBlock(), reused);
            EXPECT_EQ(image.header()->stride, stride);
            for (uint32_t y = 0; y < height; ++y) {
                for (size_t i = 3 * width; i < stride; ++i)
                    EXPECT_EQ(image.pixels()[y * stride + i], kMarker) << "row " << y << " byte " << i;
                for (uint32_t x = 0; x < width; ++x) {
                    const Bgra p = MixedPixel(x, y);
                    Bgr expected = {p[0], p[1], p[2]};
                    if (mode == kComposite)
                        for (int c = 0; c < 3; ++c) expected[c] = BlendChannel(p[c], 255, p[3]);
                    EXPECT_EQ(PixelAt(image, x, y), expected) << x << "," << y;
                }
            }
            for (size_t i = 0; i < 4; ++i) EXPECT_EQ(image.pixels()[stride * height + i], kMarker);
        }
    }
}

TEST(ResolveAlpha, DestinationStrides) {
    const std::pair<uint32_t, size_t> cases[] = {{1, 4}, {3, 12}, {4, 12}, {5, 16}};
    for (const auto& [width, stride] : cases) {
        DibImage image;
        AllocateUniform(image, width, 2, {1, 2, 3, 4});
        ASSERT_EQ(Resolve(image, kRemove, kWhite), Success);
        EXPECT_EQ(image.header()->stride, stride) << width;
        EXPECT_EQ(LocalSize(image.pixelBlock()), stride * 2 + 4) << width;
    }
}

// A picture large enough for the 32-bit build's team gives the bytes of the in-order loop.
TEST(ResolveAlpha, TeamAndInOrderGiveTheSameBytes) {
    const uint8_t background[3] = {12, 200, 99};
    for (uint32_t mode : {kRemove, kComposite}) {
        std::optional<std::vector<uint8_t>> inOrder;
        for (unsigned workers : {1u, 3u, kDefaultRowWorkers, kAutomaticWorkers}) {
            DibImage image;
            Allocate32(image, 517, 600, MixedPixel);
            ASSERT_EQ(Resolve(image, mode, background, workers), Success);
            if (!inOrder) inOrder = VisibleBytes(image);
            else EXPECT_EQ(VisibleBytes(image), *inOrder) << "mode " << mode << ", " << workers << " workers";
        }
    }
}

TEST(ResolveAlpha, OldBlockLandsInAnEmptySpareSlotAndRowsKeepTheirOrder) {
    DibImage image;
    Allocate32(image, 2, 3, [](uint32_t x, uint32_t y) { return Bgra{uint8_t(y), uint8_t(x), 0, 255}; });
    const HLOCAL oldBlock = image.pixelBlock();
    UniqueHlocal spare;
    ASSERT_EQ(ResolveAlpha(image, spare, kComposite, kWhite), Success);
    EXPECT_EQ(spare.get(), oldBlock);
    for (uint32_t y = 0; y < 3; ++y) EXPECT_EQ(PixelAt(image, 1, y), Bgr({uint8_t(y), 1, 0}));
}

TEST(ResolveAlpha, NoRows) {
    DibImage image;
    AllocateUniform(image, 7, 0, {});
    ASSERT_EQ(Resolve(image, kComposite, kWhite), Success);
    EXPECT_EQ(image.header()->bitsPerPixel, 24);
    EXPECT_EQ(image.header()->height, 0u);
}

TEST(ResolveAlpha, ImageThatIsNot32BitsOrIncompleteIsLeftAlone) {
    for (uint32_t mode : {kRemove, kComposite}) {
        DibImage image;
        UniqueHlocal none;
        ASSERT_EQ(image.Allocate(3, 2, 24, {}, none), Success);
        std::memset(image.pixels(), 0x42, LocalSize(image.pixelBlock()));
        const HLOCAL block = image.pixelBlock();
        UniqueHlocal spare(LocalAlloc(LMEM_FIXED, 64));
        const HLOCAL spareBefore = spare.get();

        PluginStatus status = ResolveAlpha(image, spare, mode, kWhite);
        EXPECT_EQ(status, InternalError) << Hex(status);
        EXPECT_EQ(image.header()->bitsPerPixel, 24);
        EXPECT_EQ(image.pixelBlock(), block);
        EXPECT_EQ(std::vector<uint8_t>(image.pixels(), image.pixels() + 20), std::vector<uint8_t>(20, 0x42));
        EXPECT_EQ(spare.get(), spareBefore);

        DibImage empty;
        status = ResolveAlpha(empty, spare, mode, kWhite);
        EXPECT_EQ(status, InternalError) << Hex(status);
        EXPECT_EQ(spare.get(), spareBefore);
    }
}

// --- In place -----------------------------------------------------------------------------

// The step GetPicture uses writes the 24-bit rows over the 32-bit ones: the visible bytes
// must be those of the step that writes into a block of its own, for every width (the
// strides are equal up to width 3), for rows taken in order and by the team, whose rows
// are handed out in bands past the first ones, and with the team's blocks taken last first
// (rows of one band must not depend on one another).
TEST(ResolveAlphaInPlace, GivesTheBytesOfTheCopyingStep) {
    constexpr unsigned kLastFirst = 1000;  // a team whose blocks are claimed last first
    struct Size {
        uint32_t width, height;
    };
    std::vector<Size> sizes;
    for (uint32_t width = 1; width <= 13; ++width) sizes.push_back({width, 3});
    sizes.insert(sizes.end(), {{1, 300}, {5, 2000}, {7, 700}, {517, 600}, {1000, 67}});
    const uint8_t background[3] = {12, 200, 99};
    for (uint32_t mode : {kRemove, kComposite}) {
        for (const Size& size : sizes) {
            DibImage reference;
            Allocate32(reference, size.width, size.height, MixedPixel);
            ASSERT_EQ(Resolve(reference, mode, background, 1), Success);
            for (unsigned workers : {1u, 3u, kDefaultRowWorkers, kAutomaticWorkers, kLastFirst}) {
                SCOPED_TRACE(testing::Message() << "mode " << mode << ", " << size.width << " x " << size.height
                                                << ", " << workers << " workers");
                DibImage image;
                Allocate32(image, size.width, size.height, MixedPixel);
                const HLOCAL block = image.pixelBlock();
                RowLoopTesting::ClaimLastBlockFirst(workers == kLastFirst);
                const PluginStatus status =
                    ResolveAlphaInPlace(image, mode, background, workers == kLastFirst ? kDefaultRowWorkers : workers);
                RowLoopTesting::ClaimLastBlockFirst(false);
                ASSERT_EQ(status, Success) << Hex(status);
                EXPECT_EQ(image.pixelBlock(), block);
                EXPECT_EQ(image.pixels(), block);
                EXPECT_EQ(image.header()->bitsPerPixel, 24);
                EXPECT_EQ(image.header()->stride, reference.header()->stride);
                EXPECT_TRUE(image.header()->palette.empty());
                EXPECT_TRUE(VisibleBytes(image) == VisibleBytes(reference));
            }
        }
    }
}

TEST(ResolveAlphaInPlace, ImageThatIsNot32BitsOrIncompleteIsLeftAlone) {
    for (uint32_t mode : {kRemove, kComposite}) {
        DibImage image;
        UniqueHlocal none;
        ASSERT_EQ(image.Allocate(3, 2, 24, {}, none), Success);
        std::memset(image.pixels(), 0x42, LocalSize(image.pixelBlock()));
        const DibHeader* header = image.header();
        PluginStatus status = ResolveAlphaInPlace(image, mode, kWhite);
        EXPECT_EQ(status, InternalError) << Hex(status);
        EXPECT_EQ(image.header(), header);
        EXPECT_EQ(std::vector<uint8_t>(image.pixels(), image.pixels() + 28), std::vector<uint8_t>(28, 0x42));

        DibImage empty;
        status = ResolveAlphaInPlace(empty, mode, kWhite);
        EXPECT_EQ(status, InternalError) << Hex(status);
    }
}

// --- With the user's settings -----------------------------------------------------------

// A registry value as it was before the test: its type and bytes, or nothing.
struct SavedValue {
    const wchar_t* name;
    bool present = false;
    DWORD type = 0;
    std::vector<BYTE> bytes;
};

// Sets "Alpha" and "Color" for one test and puts back what was there (the key too).
class SavedAlphaSettings {
public:
    SavedAlphaSettings() {
        DWORD disposition = 0;
        RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKeyPath, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                        key_.put(), &disposition);
        createdKey_ = disposition == REG_CREATED_NEW_KEY;
        for (SavedValue& value : saved_) Save(value);
    }
    ~SavedAlphaSettings() {
        for (const SavedValue& value : saved_) Restore(value);
        key_.reset();
        if (createdKey_) RegDeleteKeyW(HKEY_CURRENT_USER, kSettingsKeyPath);
    }
    SavedAlphaSettings(const SavedAlphaSettings&) = delete;
    SavedAlphaSettings& operator=(const SavedAlphaSettings&) = delete;

    void Write(const wchar_t* name, uint32_t value) {
        RegSetValueExW(key_.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    }
    void Delete(const wchar_t* name) { RegDeleteValueW(key_.get(), name); }

private:
    void Save(SavedValue& value) {
        DWORD size = 0;
        if (RegQueryValueExW(key_.get(), value.name, nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS) return;
        value.bytes.resize(size);
        value.present = RegQueryValueExW(key_.get(), value.name, nullptr, &value.type, value.bytes.data(), &size) ==
                        ERROR_SUCCESS;
    }
    void Restore(const SavedValue& value) {
        if (!value.present) return Delete(value.name);
        RegSetValueExW(key_.get(), value.name, 0, value.type, value.bytes.data(), static_cast<DWORD>(value.bytes.size()));
    }

    UniqueHkey key_;
    bool createdKey_ = false;
    SavedValue saved_[2] = {{L"Alpha", false, 0, {}}, {L"Color", false, 0, {}}};
};

TEST(ResolveAlphaWithSettings, ReadsTheModeAndBackgroundOnEveryCall) {
    SavedAlphaSettings settings;
    auto resolveTransparentPixel = [] {
        DibImage image;
        AllocateUniform(image, 1, 1, {10, 20, 30, 0});
        UniqueHlocal spare;
        EXPECT_EQ(ResolveAlpha(image, spare), Success);
        return PixelAt(image, 0, 0);
    };
    settings.Delete(L"Alpha");
    settings.Delete(L"Color");
    EXPECT_EQ(resolveTransparentPixel(), Bgr({255, 255, 255}));
    settings.Write(L"Alpha", kComposite);
    settings.Write(L"Color", 0x0000FF);  // red
    EXPECT_EQ(resolveTransparentPixel(), Bgr({0, 0, 255}));
    settings.Write(L"Alpha", kRemove);
    EXPECT_EQ(resolveTransparentPixel(), Bgr({10, 20, 30}));
}

TEST(ResolveAlphaWithSettings, InPlaceReadsThemToo) {
    SavedAlphaSettings settings;
    auto resolveTransparentPixel = [] {
        DibImage image;
        AllocateUniform(image, 1, 1, {10, 20, 30, 0});
        EXPECT_EQ(ResolveAlphaInPlace(image), Success);
        return PixelAt(image, 0, 0);
    };
    settings.Delete(L"Alpha");
    settings.Delete(L"Color");
    EXPECT_EQ(resolveTransparentPixel(), Bgr({255, 255, 255}));
    settings.Write(L"Alpha", kComposite);
    settings.Write(L"Color", 0x00FF00);  // green
    EXPECT_EQ(resolveTransparentPixel(), Bgr({0, 255, 0}));
    settings.Write(L"Alpha", kRemove);
    EXPECT_EQ(resolveTransparentPixel(), Bgr({10, 20, 30}));
}

}  // namespace
