// The pixel format catalogue: 76 known formats in a process-wide ordered table.
#include "decode/PixelFormatCatalogue.h"

#include <atomic>
#include <iterator>
#include <cstring>
#include <map>
#include <memory>
#include <new>

namespace {

using namespace PixelFormats;

// Identifiers that the catalogue lists beyond the named ones above.
constexpr GUID kFormat16bppGrayFixedPoint = Family(0x13);
constexpr GUID kFormat16bppGrayHalf = Family(0x3e);
constexpr GUID kFormat32bppGrayFloat = Family(0x11);
constexpr GUID kFormat32bppGrayFixedPoint = Family(0x3f);
constexpr GUID kFormat16bppBGR565 = Family(0x0a);
constexpr GUID kFormat32bppBGR101010 = Family(0x14);
constexpr GUID kFormat32bppRGBA1010102 = {0x25238d72, 0xfcf9, 0x4522, {0xb5, 0x14, 0x55, 0x78, 0xe5, 0xad, 0x55, 0xe0}};
constexpr GUID kFormat32bppRGBA1010102XR = {0x00de6b9a, 0xc101, 0x434b, {0xb5, 0x02, 0xd0, 0x16, 0x5e, 0xe1, 0x12, 0x2c}};
constexpr GUID kFormat32bppRGBA = {0xf5c7ad2d, 0x6a8d, 0x43dd, {0xa7, 0xa8, 0xa2, 0x99, 0x35, 0x26, 0x1a, 0xe9}};
constexpr GUID kFormat32bppRGBE = Family(0x3d);
constexpr GUID kFormat32bppPRGBA = {0x3cc4a650, 0xa527, 0x4d37, {0xa9, 0x16, 0x31, 0x42, 0xc7, 0xeb, 0xed, 0xba}};
constexpr GUID kFormat32bppPBGRA = Family(0x10);
constexpr GUID kFormat48bppBGR = {0xe605a384, 0xb468, 0x46ce, {0xbb, 0x2e, 0x36, 0xf1, 0x80, 0xe6, 0x43, 0x13}};
constexpr GUID kFormat48bppRGBFixedPoint = Family(0x12);
constexpr GUID kFormat48bppBGRFixedPoint = {0x49ca140e, 0xcab6, 0x493b, {0x9d, 0xdf, 0x60, 0x18, 0x7c, 0x37, 0x53, 0x2a}};
constexpr GUID kFormat48bppRGBHalf = Family(0x3b);
constexpr GUID kFormat64bppBGRA = {0x1562ff7c, 0xd352, 0x46f9, {0x97, 0x9e, 0x42, 0x97, 0x6b, 0x79, 0x22, 0x46}};
constexpr GUID kFormat64bppPRGBA = Family(0x17);
constexpr GUID kFormat64bppPBGRA = {0x8c518e8e, 0xa4ec, 0x468b, {0xae, 0x70, 0xc9, 0xa3, 0x5a, 0x9c, 0x55, 0x30}};
constexpr GUID kFormat64bppRGBFixedPoint = Family(0x40);
constexpr GUID kFormat64bppRGBAFixedPoint = Family(0x1d);
constexpr GUID kFormat64bppBGRAFixedPoint = {0x356de33c, 0x54d2, 0x4a23, {0xbb, 0x04, 0x9b, 0x7b, 0xf9, 0xb1, 0xd4, 0x2d}};
constexpr GUID kFormat64bppRGBHalf = Family(0x42);
constexpr GUID kFormat64bppRGBAHalf = Family(0x3a);
constexpr GUID kFormat96bppRGBFixedPoint = Family(0x18);
constexpr GUID kFormat128bppRGBFloat = Family(0x1b);
constexpr GUID kFormat128bppRGBAFloat = Family(0x19);
constexpr GUID kFormat128bppPRGBAFloat = Family(0x1a);
constexpr GUID kFormat128bppRGBFixedPoint = Family(0x41);
constexpr GUID kFormat128bppRGBAFixedPoint = Family(0x1e);
constexpr GUID kFormat32bppCMYK = Family(0x1c);
constexpr GUID kFormat64bppCMYK = Family(0x1f);
constexpr GUID kFormat40bppCMYKAlpha = Family(0x2c);
constexpr GUID kFormat80bppCMYKAlpha = Family(0x2d);
constexpr GUID kFormat24bpp3Channels = Family(0x20);
constexpr GUID kFormat48bpp3Channels = Family(0x26);
constexpr GUID kFormat32bpp3ChannelsAlpha = Family(0x2e);
constexpr GUID kFormat64bpp3ChannelsAlpha = Family(0x34);
constexpr GUID kFormat32bpp4Channels = Family(0x21);
constexpr GUID kFormat64bpp4Channels = Family(0x27);
constexpr GUID kFormat40bpp4ChannelsAlpha = Family(0x2f);
constexpr GUID kFormat80bpp4ChannelsAlpha = Family(0x35);
constexpr GUID kFormat40bpp5Channels = Family(0x22);
constexpr GUID kFormat80bpp5Channels = Family(0x28);
constexpr GUID kFormat48bpp5ChannelsAlpha = Family(0x30);
constexpr GUID kFormat96bpp5ChannelsAlpha = Family(0x36);
constexpr GUID kFormat48bpp6Channels = Family(0x23);
constexpr GUID kFormat96bpp6Channels = Family(0x29);
constexpr GUID kFormat56bpp6ChannelsAlpha = Family(0x31);
constexpr GUID kFormat112bpp6ChannelsAlpha = Family(0x37);
constexpr GUID kFormat56bpp7Channels = Family(0x24);
constexpr GUID kFormat112bpp7Channels = Family(0x2a);
constexpr GUID kFormat64bpp7ChannelsAlpha = Family(0x32);
constexpr GUID kFormat128bpp7ChannelsAlpha = Family(0x38);
constexpr GUID kFormat64bpp8Channels = Family(0x25);
constexpr GUID kFormat128bpp8Channels = Family(0x2b);
constexpr GUID kFormat72bpp8ChannelsAlpha = Family(0x33);
constexpr GUID kFormat144bpp8ChannelsAlpha = Family(0x39);
constexpr GUID kFormat8bppAlpha = {0xe6cd0116, 0xeeba, 0x4161, {0xaa, 0x85, 0x27, 0xdd, 0x9f, 0xb3, 0xa8, 0x95}};

// The catalogue in insertion order.
const PixelFormatEntry kEntries[] = {
    {&k1bppIndexed, &k1bppIndexed, 1, false},
    {&k2bppIndexed, &k4bppIndexed, 2, false},
    {&k4bppIndexed, &k4bppIndexed, 4, false},
    {&k8bppIndexed, &k8bppIndexed, 8, false},
    {&kBlackWhite, &kBlackWhite, 1, false},
    {&k2bppGray, &k4bppGray, 2, false},
    {&k4bppGray, &k4bppGray, 4, false},
    {&k8bppGray, &k8bppGray, 8, false},
    {&k16bppGray, &k24bppBGR, 16, false},
    {&kFormat16bppGrayFixedPoint, &k24bppBGR, 16, false},
    {&kFormat16bppGrayHalf, &k24bppBGR, 16, false},
    {&kFormat32bppGrayFloat, &k24bppBGR, 32, false},
    {&kFormat32bppGrayFixedPoint, &k24bppBGR, 32, false},
    {&k16bppBGR555, &k16bppBGR555, 16, false},
    {&kFormat16bppBGR565, &k24bppBGR, 16, false},
    {&k16bppBGRA5551, &k16bppBGR555, 16, true},
    {&kFormat32bppBGR101010, &k24bppBGR, 32, false},
    {&kFormat32bppRGBA1010102, &k24bppBGR, 32, true},
    {&kFormat32bppRGBA1010102XR, &k24bppBGR, 32, true},
    {&k24bppRGB, &k24bppBGR, 24, false},
    {&k24bppBGR, &k24bppBGR, 24, false},
    {&k32bppBGR, &k24bppBGR, 32, false},
    {&kFormat32bppRGBA, &k24bppBGR, 32, true},
    {&k32bppBGRA, &k24bppBGR, 32, true},
    {&kFormat32bppRGBE, &k24bppBGR, 32, false},
    {&kFormat32bppPRGBA, &k24bppBGR, 32, true},
    {&kFormat32bppPBGRA, &k24bppBGR, 32, true},
    {&k48bppRGB, &k24bppBGR, 48, false},
    {&kFormat48bppBGR, &k24bppBGR, 48, false},
    {&kFormat48bppRGBFixedPoint, &k24bppBGR, 48, false},
    {&kFormat48bppBGRFixedPoint, &k24bppBGR, 48, false},
    {&kFormat48bppRGBHalf, &k24bppBGR, 48, false},
    {&k64bppRGBA, &k24bppBGR, 64, true},
    {&kFormat64bppBGRA, &k24bppBGR, 64, true},
    {&kFormat64bppPRGBA, &k24bppBGR, 64, true},
    {&kFormat64bppPBGRA, &k24bppBGR, 64, true},
    {&kFormat64bppRGBFixedPoint, &k24bppBGR, 64, false},
    {&kFormat64bppRGBAFixedPoint, &k24bppBGR, 64, true},
    {&kFormat64bppBGRAFixedPoint, &k24bppBGR, 64, true},
    {&kFormat64bppRGBHalf, &k24bppBGR, 64, false},
    {&kFormat64bppRGBAHalf, &k24bppBGR, 64, true},
    {&kFormat96bppRGBFixedPoint, &k24bppBGR, 96, false},
    {&kFormat128bppRGBFloat, &k24bppBGR, 128, false},
    {&kFormat128bppRGBAFloat, &k24bppBGR, 128, true},
    {&kFormat128bppPRGBAFloat, &k24bppBGR, 128, true},
    {&kFormat128bppRGBFixedPoint, &k24bppBGR, 128, false},
    {&kFormat128bppRGBAFixedPoint, &k24bppBGR, 128, true},
    {&kFormat32bppCMYK, &k24bppBGR, 32, false},
    {&kFormat64bppCMYK, &k24bppBGR, 64, false},
    {&kFormat40bppCMYKAlpha, &k24bppBGR, 40, true},
    {&kFormat80bppCMYKAlpha, &k24bppBGR, 80, true},
    {&kFormat24bpp3Channels, &k24bppBGR, 24, false},
    {&kFormat48bpp3Channels, &k24bppBGR, 48, false},
    {&kFormat32bpp3ChannelsAlpha, &k24bppBGR, 32, true},
    {&kFormat64bpp3ChannelsAlpha, &k24bppBGR, 64, true},
    {&kFormat32bpp4Channels, &k24bppBGR, 32, false},
    {&kFormat64bpp4Channels, &k24bppBGR, 64, false},
    {&kFormat40bpp4ChannelsAlpha, &k24bppBGR, 40, true},
    {&kFormat80bpp4ChannelsAlpha, &k24bppBGR, 80, true},
    {&kFormat40bpp5Channels, &k24bppBGR, 40, false},
    {&kFormat80bpp5Channels, &k24bppBGR, 80, false},
    {&kFormat48bpp5ChannelsAlpha, &k24bppBGR, 48, true},
    {&kFormat96bpp5ChannelsAlpha, &k24bppBGR, 96, true},
    {&kFormat48bpp6Channels, &k24bppBGR, 48, false},
    {&kFormat96bpp6Channels, &k24bppBGR, 96, false},
    {&kFormat56bpp6ChannelsAlpha, &k24bppBGR, 56, true},
    {&kFormat112bpp6ChannelsAlpha, &k24bppBGR, 112, true},
    {&kFormat56bpp7Channels, &k24bppBGR, 56, false},
    {&kFormat112bpp7Channels, &k24bppBGR, 112, false},
    {&kFormat64bpp7ChannelsAlpha, &k24bppBGR, 64, true},
    {&kFormat128bpp7ChannelsAlpha, &k24bppBGR, 128, true},
    {&kFormat64bpp8Channels, &k24bppBGR, 64, false},
    {&kFormat128bpp8Channels, &k24bppBGR, 128, false},
    {&kFormat72bpp8ChannelsAlpha, &k24bppBGR, 72, true},
    {&kFormat144bpp8ChannelsAlpha, &k24bppBGR, 144, true},
    {&kFormat8bppAlpha, &k24bppBGR, 8, true},
};
static_assert(std::size(kEntries) == 76);

const PixelFormatEntry kFallback = {&kDontCare, &k24bppBGR, 0, false};

std::atomic<int> buildCount{0};
std::atomic<int> failingAllocation{0};  // test hook: n-th node allocation throws

// Node allocator that lets tests make the n-th allocation of a build fail.
template <class T>
struct CatalogueAllocator {
    using value_type = T;
    CatalogueAllocator() = default;
    template <class U>
    CatalogueAllocator(const CatalogueAllocator<U>&) {}
    T* allocate(size_t n) {
        if (failingAllocation.load() > 0 && failingAllocation.fetch_sub(1) == 1) throw std::bad_alloc();
        return std::allocator<T>().allocate(n);
    }
    void deallocate(T* p, size_t n) { std::allocator<T>().deallocate(p, n); }
    friend bool operator==(const CatalogueAllocator&, const CatalogueAllocator&) { return true; }
};

struct GuidOrder {
    bool operator()(const GUID& a, const GUID& b) const { return GuidLess(a, b); }
};
using Table = std::map<GUID, const PixelFormatEntry*, GuidOrder,
                       CatalogueAllocator<std::pair<const GUID, const PixelFormatEntry*>>>;

// Created when the library is loaded, deleted when it is unloaded, after the table.
class CatalogueLock {
public:
    CatalogueLock() { InitializeCriticalSection(&section_); }
    ~CatalogueLock() { DeleteCriticalSection(&section_); }
    CatalogueLock(const CatalogueLock&) = delete;
    CatalogueLock& operator=(const CatalogueLock&) = delete;
    void Enter() { EnterCriticalSection(&section_); }
    void Leave() { LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_;
};

class LockHeld {
public:
    explicit LockHeld(CatalogueLock& lock) : lock_(lock) { lock_.Enter(); }
    ~LockHeld() { lock_.Leave(); }
    LockHeld(const LockHeld&) = delete;
    LockHeld& operator=(const LockHeld&) = delete;

private:
    CatalogueLock& lock_;
};

// Declared in this order so that unloading frees the table before the lock.
CatalogueLock catalogueLock;
std::unique_ptr<Table> catalogue;  // guarded by catalogueLock; null until built

// Builds the table; on exhausted memory everything inserted so far is freed.
std::unique_ptr<Table> BuildTable() noexcept {
    try {
        auto table = std::make_unique<Table>();
        for (const PixelFormatEntry& entry : kEntries) table->emplace(*entry.format, &entry);
        ++buildCount;
        return table;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace

bool GuidLess(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) < 0; }

bool GuidEqual(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

const PixelFormatEntry* LookupPixelFormat(const GUID& format) {
    LockHeld held(catalogueLock);
    if (!catalogue) {
        catalogue = BuildTable();
        if (!catalogue) return nullptr;
    }
    const auto found = catalogue->lower_bound(format);
    if (found == catalogue->end() || GuidLess(format, found->first)) return &kFallback;
    return found->second;
}

namespace PixelFormatCatalogueTesting {
int BuildCount() { return buildCount.load(); }
void Reset() {
    LockHeld held(catalogueLock);
    catalogue.reset();
}
void FailAllocation(int nth) { failingAllocation.store(nth); }
}  // namespace PixelFormatCatalogueTesting
