// The pixel format catalogue: entries checked against the platform's own identifiers,
// the fallback, byte-wise lookup, one build under concurrent first use, and running out
// of memory while building.
#include "decode/PixelFormatCatalogue.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <wincodec.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

struct CatalogueCase {
    const char* name;
    GUID format;  // from the platform's headers, not from our own constants
    GUID output;
    int bitsPerPixel;
    bool hasAlpha;
};

const CatalogueCase kCases[] = {
    {"1bppIndexed", GUID_WICPixelFormat1bppIndexed, GUID_WICPixelFormat1bppIndexed, 1, false},
    {"2bppIndexed", GUID_WICPixelFormat2bppIndexed, GUID_WICPixelFormat4bppIndexed, 2, false},
    {"4bppIndexed", GUID_WICPixelFormat4bppIndexed, GUID_WICPixelFormat4bppIndexed, 4, false},
    {"8bppIndexed", GUID_WICPixelFormat8bppIndexed, GUID_WICPixelFormat8bppIndexed, 8, false},
    {"BlackWhite", GUID_WICPixelFormatBlackWhite, GUID_WICPixelFormatBlackWhite, 1, false},
    {"2bppGray", GUID_WICPixelFormat2bppGray, GUID_WICPixelFormat4bppGray, 2, false},
    {"4bppGray", GUID_WICPixelFormat4bppGray, GUID_WICPixelFormat4bppGray, 4, false},
    {"8bppGray", GUID_WICPixelFormat8bppGray, GUID_WICPixelFormat8bppGray, 8, false},
    {"16bppGray", GUID_WICPixelFormat16bppGray, GUID_WICPixelFormat24bppBGR, 16, false},
    {"16bppGrayFixedPoint", GUID_WICPixelFormat16bppGrayFixedPoint, GUID_WICPixelFormat24bppBGR, 16, false},
    {"16bppGrayHalf", GUID_WICPixelFormat16bppGrayHalf, GUID_WICPixelFormat24bppBGR, 16, false},
    {"32bppGrayFloat", GUID_WICPixelFormat32bppGrayFloat, GUID_WICPixelFormat24bppBGR, 32, false},
    {"32bppGrayFixedPoint", GUID_WICPixelFormat32bppGrayFixedPoint, GUID_WICPixelFormat24bppBGR, 32, false},
    {"16bppBGR555", GUID_WICPixelFormat16bppBGR555, GUID_WICPixelFormat16bppBGR555, 16, false},
    {"16bppBGR565", GUID_WICPixelFormat16bppBGR565, GUID_WICPixelFormat24bppBGR, 16, false},
    {"16bppBGRA5551", GUID_WICPixelFormat16bppBGRA5551, GUID_WICPixelFormat16bppBGR555, 16, true},
    {"32bppBGR101010", GUID_WICPixelFormat32bppBGR101010, GUID_WICPixelFormat24bppBGR, 32, false},
    {"32bppRGBA1010102", GUID_WICPixelFormat32bppRGBA1010102, GUID_WICPixelFormat24bppBGR, 32, true},
    {"32bppRGBA1010102XR", GUID_WICPixelFormat32bppRGBA1010102XR, GUID_WICPixelFormat24bppBGR, 32, true},
    {"24bppRGB", GUID_WICPixelFormat24bppRGB, GUID_WICPixelFormat24bppBGR, 24, false},
    {"24bppBGR", GUID_WICPixelFormat24bppBGR, GUID_WICPixelFormat24bppBGR, 24, false},
    {"32bppBGR", GUID_WICPixelFormat32bppBGR, GUID_WICPixelFormat24bppBGR, 32, false},
    {"32bppRGBA", GUID_WICPixelFormat32bppRGBA, GUID_WICPixelFormat24bppBGR, 32, true},
    {"32bppBGRA", GUID_WICPixelFormat32bppBGRA, GUID_WICPixelFormat24bppBGR, 32, true},
    {"32bppRGBE", GUID_WICPixelFormat32bppRGBE, GUID_WICPixelFormat24bppBGR, 32, false},
    {"32bppPRGBA", GUID_WICPixelFormat32bppPRGBA, GUID_WICPixelFormat24bppBGR, 32, true},
    {"32bppPBGRA", GUID_WICPixelFormat32bppPBGRA, GUID_WICPixelFormat24bppBGR, 32, true},
    {"48bppRGB", GUID_WICPixelFormat48bppRGB, GUID_WICPixelFormat24bppBGR, 48, false},
    {"48bppBGR", GUID_WICPixelFormat48bppBGR, GUID_WICPixelFormat24bppBGR, 48, false},
    {"48bppRGBFixedPoint", GUID_WICPixelFormat48bppRGBFixedPoint, GUID_WICPixelFormat24bppBGR, 48, false},
    {"48bppBGRFixedPoint", GUID_WICPixelFormat48bppBGRFixedPoint, GUID_WICPixelFormat24bppBGR, 48, false},
    {"48bppRGBHalf", GUID_WICPixelFormat48bppRGBHalf, GUID_WICPixelFormat24bppBGR, 48, false},
    {"64bppRGBA", GUID_WICPixelFormat64bppRGBA, GUID_WICPixelFormat24bppBGR, 64, true},
    {"64bppBGRA", GUID_WICPixelFormat64bppBGRA, GUID_WICPixelFormat24bppBGR, 64, true},
    {"64bppPRGBA", GUID_WICPixelFormat64bppPRGBA, GUID_WICPixelFormat24bppBGR, 64, true},
    {"64bppPBGRA", GUID_WICPixelFormat64bppPBGRA, GUID_WICPixelFormat24bppBGR, 64, true},
    {"64bppRGBFixedPoint", GUID_WICPixelFormat64bppRGBFixedPoint, GUID_WICPixelFormat24bppBGR, 64, false},
    {"64bppRGBAFixedPoint", GUID_WICPixelFormat64bppRGBAFixedPoint, GUID_WICPixelFormat24bppBGR, 64, true},
    {"64bppBGRAFixedPoint", GUID_WICPixelFormat64bppBGRAFixedPoint, GUID_WICPixelFormat24bppBGR, 64, true},
    {"64bppRGBHalf", GUID_WICPixelFormat64bppRGBHalf, GUID_WICPixelFormat24bppBGR, 64, false},
    {"64bppRGBAHalf", GUID_WICPixelFormat64bppRGBAHalf, GUID_WICPixelFormat24bppBGR, 64, true},
    {"96bppRGBFixedPoint", GUID_WICPixelFormat96bppRGBFixedPoint, GUID_WICPixelFormat24bppBGR, 96, false},
    {"128bppRGBFloat", GUID_WICPixelFormat128bppRGBFloat, GUID_WICPixelFormat24bppBGR, 128, false},
    {"128bppRGBAFloat", GUID_WICPixelFormat128bppRGBAFloat, GUID_WICPixelFormat24bppBGR, 128, true},
    {"128bppPRGBAFloat", GUID_WICPixelFormat128bppPRGBAFloat, GUID_WICPixelFormat24bppBGR, 128, true},
    {"128bppRGBFixedPoint", GUID_WICPixelFormat128bppRGBFixedPoint, GUID_WICPixelFormat24bppBGR, 128, false},
    {"128bppRGBAFixedPoint", GUID_WICPixelFormat128bppRGBAFixedPoint, GUID_WICPixelFormat24bppBGR, 128, true},
    {"32bppCMYK", GUID_WICPixelFormat32bppCMYK, GUID_WICPixelFormat24bppBGR, 32, false},
    {"64bppCMYK", GUID_WICPixelFormat64bppCMYK, GUID_WICPixelFormat24bppBGR, 64, false},
    {"40bppCMYKAlpha", GUID_WICPixelFormat40bppCMYKAlpha, GUID_WICPixelFormat24bppBGR, 40, true},
    {"80bppCMYKAlpha", GUID_WICPixelFormat80bppCMYKAlpha, GUID_WICPixelFormat24bppBGR, 80, true},
    {"24bpp3Channels", GUID_WICPixelFormat24bpp3Channels, GUID_WICPixelFormat24bppBGR, 24, false},
    {"48bpp3Channels", GUID_WICPixelFormat48bpp3Channels, GUID_WICPixelFormat24bppBGR, 48, false},
    {"32bpp3ChannelsAlpha", GUID_WICPixelFormat32bpp3ChannelsAlpha, GUID_WICPixelFormat24bppBGR, 32, true},
    {"64bpp3ChannelsAlpha", GUID_WICPixelFormat64bpp3ChannelsAlpha, GUID_WICPixelFormat24bppBGR, 64, true},
    {"32bpp4Channels", GUID_WICPixelFormat32bpp4Channels, GUID_WICPixelFormat24bppBGR, 32, false},
    {"64bpp4Channels", GUID_WICPixelFormat64bpp4Channels, GUID_WICPixelFormat24bppBGR, 64, false},
    {"40bpp4ChannelsAlpha", GUID_WICPixelFormat40bpp4ChannelsAlpha, GUID_WICPixelFormat24bppBGR, 40, true},
    {"80bpp4ChannelsAlpha", GUID_WICPixelFormat80bpp4ChannelsAlpha, GUID_WICPixelFormat24bppBGR, 80, true},
    {"40bpp5Channels", GUID_WICPixelFormat40bpp5Channels, GUID_WICPixelFormat24bppBGR, 40, false},
    {"80bpp5Channels", GUID_WICPixelFormat80bpp5Channels, GUID_WICPixelFormat24bppBGR, 80, false},
    {"48bpp5ChannelsAlpha", GUID_WICPixelFormat48bpp5ChannelsAlpha, GUID_WICPixelFormat24bppBGR, 48, true},
    {"96bpp5ChannelsAlpha", GUID_WICPixelFormat96bpp5ChannelsAlpha, GUID_WICPixelFormat24bppBGR, 96, true},
    {"48bpp6Channels", GUID_WICPixelFormat48bpp6Channels, GUID_WICPixelFormat24bppBGR, 48, false},
    {"96bpp6Channels", GUID_WICPixelFormat96bpp6Channels, GUID_WICPixelFormat24bppBGR, 96, false},
    {"56bpp6ChannelsAlpha", GUID_WICPixelFormat56bpp6ChannelsAlpha, GUID_WICPixelFormat24bppBGR, 56, true},
    {"112bpp6ChannelsAlpha", GUID_WICPixelFormat112bpp6ChannelsAlpha, GUID_WICPixelFormat24bppBGR, 112, true},
    {"56bpp7Channels", GUID_WICPixelFormat56bpp7Channels, GUID_WICPixelFormat24bppBGR, 56, false},
    {"112bpp7Channels", GUID_WICPixelFormat112bpp7Channels, GUID_WICPixelFormat24bppBGR, 112, false},
    {"64bpp7ChannelsAlpha", GUID_WICPixelFormat64bpp7ChannelsAlpha, GUID_WICPixelFormat24bppBGR, 64, true},
    {"128bpp7ChannelsAlpha", GUID_WICPixelFormat128bpp7ChannelsAlpha, GUID_WICPixelFormat24bppBGR, 128, true},
    {"64bpp8Channels", GUID_WICPixelFormat64bpp8Channels, GUID_WICPixelFormat24bppBGR, 64, false},
    {"128bpp8Channels", GUID_WICPixelFormat128bpp8Channels, GUID_WICPixelFormat24bppBGR, 128, false},
    {"72bpp8ChannelsAlpha", GUID_WICPixelFormat72bpp8ChannelsAlpha, GUID_WICPixelFormat24bppBGR, 72, true},
    {"144bpp8ChannelsAlpha", GUID_WICPixelFormat144bpp8ChannelsAlpha, GUID_WICPixelFormat24bppBGR, 144, true},
    {"8bppAlpha", GUID_WICPixelFormat8bppAlpha, GUID_WICPixelFormat24bppBGR, 8, true},
};

TEST(PixelFormatCatalogue, EveryListedFormatAgreesWithThePlatformIdentifiers) {
    EXPECT_EQ(std::size(kCases), 76u);
    for (const CatalogueCase& c : kCases) {
        const PixelFormatEntry* entry = LookupPixelFormat(c.format);
        ASSERT_NE(entry, nullptr);
        EXPECT_TRUE(GuidEqual(*entry->format, c.format)) << c.name << " is not in the catalogue";
        EXPECT_TRUE(GuidEqual(*entry->outputFormat, c.output)) << c.name;
        EXPECT_EQ(entry->bitsPerPixel, c.bitsPerPixel) << c.name;
        EXPECT_EQ(entry->hasAlpha, c.hasAlpha) << c.name;
    }
}

TEST(PixelFormatCatalogue, UnlistedIdentifiersGiveTheFallback) {
    GUID lastByteDiffers = GUID_WICPixelFormat8bppIndexed;
    lastByteDiffers.Data4[7] ^= 0x80;
    GUID firstByteDiffers = GUID_WICPixelFormat8bppIndexed;
    firstByteDiffers.Data1 ^= 1;
    const GUID allFF = {0xFFFFFFFF, 0xFFFF, 0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}};
    for (const GUID& format : {GUID_WICPixelFormatDontCare, GUID{}, lastByteDiffers, firstByteDiffers, allFF,
                               GUID_ContainerFormatPng}) {
        const PixelFormatEntry* entry = LookupPixelFormat(format);
        ASSERT_NE(entry, nullptr);
        EXPECT_TRUE(GuidEqual(*entry->format, GUID_WICPixelFormatDontCare));
        EXPECT_TRUE(GuidEqual(*entry->outputFormat, GUID_WICPixelFormat24bppBGR));
        EXPECT_EQ(entry->bitsPerPixel, 0);
        EXPECT_FALSE(entry->hasAlpha);
    }
}

TEST(PixelFormatCatalogue, OrderIsByteWiseOverTheMemoryLayout) {
    // Data1 is little-endian in memory: 0x00000100 lies as 00 01 00 00, before 0x00000001 (01 00 00 00).
    const GUID a = {0x00000100, 0, 0, {}};
    const GUID b = {0x00000001, 0, 0, {}};
    EXPECT_TRUE(GuidLess(a, b));
    EXPECT_FALSE(GuidLess(b, a));
    EXPECT_FALSE(GuidLess(a, a));
}

TEST(PixelFormatCatalogue, RepeatedLookupsGiveTheSameEntry) {
    EXPECT_EQ(LookupPixelFormat(GUID_WICPixelFormat32bppBGRA), LookupPixelFormat(GUID_WICPixelFormat32bppBGRA));
}

TEST(PixelFormatCatalogue, ConcurrentFirstLookupsBuildTheTableOnce) {
    for (int round = 0; round < 20; ++round) {
        PixelFormatCatalogueTesting::Reset();
        const int before = PixelFormatCatalogueTesting::BuildCount();
        std::atomic<int> ready{0};
        std::atomic<int> wrong{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back([&] {
                ++ready;
                while (ready.load() < 8) {
                }
                const PixelFormatEntry* entry = LookupPixelFormat(GUID_WICPixelFormat8bppGray);
                if (!entry || entry->bitsPerPixel != 8) ++wrong;
            });
        }
        for (std::thread& t : threads) t.join();
        EXPECT_EQ(PixelFormatCatalogueTesting::BuildCount(), before + 1);
        EXPECT_EQ(wrong.load(), 0);
    }
}

TEST(PixelFormatCatalogue, RunningOutOfMemoryWhileBuildingIsReportedAndRetried) {
    for (int nth : {1, 2, 40, 76}) {
        PixelFormatCatalogueTesting::Reset();
        const int before = PixelFormatCatalogueTesting::BuildCount();
        PixelFormatCatalogueTesting::FailAllocation(nth);
        EXPECT_EQ(LookupPixelFormat(GUID_WICPixelFormat24bppBGR), nullptr) << "failing allocation " << nth;
        EXPECT_EQ(PixelFormatCatalogueTesting::BuildCount(), before);
        const PixelFormatEntry* entry = LookupPixelFormat(GUID_WICPixelFormat24bppBGR);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->bitsPerPixel, 24);
        EXPECT_EQ(PixelFormatCatalogueTesting::BuildCount(), before + 1);
    }
    PixelFormatCatalogueTesting::FailAllocation(0);
}

}  // namespace
