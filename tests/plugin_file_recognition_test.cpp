// IsSupported and IsSupportedW: the .png extension test, the choice between the host's
// file handle and its header bytes, and the fall-back from the header to the named file.
#include "plugin/FileRecognition.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

namespace {

// A PNG that fits in the 2048 header bytes and one that does not.
const std::wstring kSmallPng = L"basn2c08.png";    // 32x32 RGB, 145 bytes
const std::wstring kLargePng = L"basn6a16.png";    // 32x32 RGBA 16-bit, 3435 bytes

// The first 2048 bytes of a file, zero-padded when it is shorter, as viewers pass them.
std::vector<uint8_t> HeaderOf(const std::vector<uint8_t>& file) {
    std::vector<uint8_t> header(file.begin(), file.begin() + std::min(file.size(), kHeaderBufferSize));
    header.resize(kHeaderBufferSize, 0);
    return header;
}

std::vector<uint8_t> SmallJpeg() { return EncodeWithWic(GUID_ContainerFormatJpeg, 8, 8); }

// Bytes that no decoder takes: the header probe has to look at the named file.
std::vector<uint8_t> Unrecognised() { return std::vector<uint8_t>(kHeaderBufferSize, 0x5A); }

std::vector<uint8_t> TextBytes() {
    const std::string text = "Not a picture, only a few lines of text.\r\n";
    std::string file;
    while (file.size() < 3000) file += text;
    return {file.begin(), file.end()};
}

ULONG_PTR AddressOf(const std::vector<uint8_t>& bytes) {
    return reinterpret_cast<ULONG_PTR>(bytes.data());
}

// Probes that record how they were called and answer a chosen status.
struct RecordingProbes {
    PluginStatus answer = Success;
    int handleCalls = 0;
    int headerCalls = 0;
    HANDLE handle = nullptr;
    const void* header = nullptr;
    const wchar_t* fileName = reinterpret_cast<const wchar_t*>(1);  // marker until called

    RecognitionProbes Probes() {
        return {[this](HANDLE file) {
                    ++handleCalls;
                    handle = file;
                    return answer;
                },
                [this](const void* bytes, const wchar_t* name) {
                    ++headerCalls;
                    header = bytes;
                    fileName = name;
                    return answer;
                }};
    }
    int Calls() const { return handleCalls + headerCalls; }
};

// ---- Extension test -------------------------------------------------------------

struct ExtensionCase {
    const wchar_t* name;
    bool passes;
};

const ExtensionCase kExtensionCases[] = {
    {L"picture.png", true},
    {L"C:\\pictures\\PICTURE.PNG", true},
    {L"picture.pNg", true},
    {L"archive.zip\\inner.Png", true},
    {L"picture.jpg", false},
    {L"picture.apng", false},
    {L"picture.png~", false},
    {L"picture.png.bak", false},
    {L"picture.pn", false},
    {L"picture.", false},
    {L"picture", false},
    {L"c:\\dir.png\\picture", false},
    {L"", false},
};

TEST(ExtensionTest, OnlyDotPngInAnyCaseReachesAProbe) {
    for (const ExtensionCase& c : kExtensionCases) {
        for (ULONG_PTR headerOrHandle : {ULONG_PTR(0x40), ULONG_PTR(0x123456)}) {
            RecordingProbes probes;
            EXPECT_EQ(RecognizeFile(c.name, headerOrHandle, probes.Probes()), c.passes ? 1 : 0)
                << testing::PrintToString(std::wstring(c.name));
            EXPECT_EQ(probes.Calls(), c.passes ? 1 : 0) << testing::PrintToString(std::wstring(c.name));
        }
    }
}

TEST(ExtensionTest, PatternMatchesTheWholeExtensionOnly) {
    for (const wchar_t* yes : {L".png", L".PNG", L".Png", L".pnG"}) EXPECT_TRUE(MatchesExtensionPattern(yes));
    for (const wchar_t* no : {L"png", L"..png", L".png.", L".png ", L" .png", L".png\n", L".pngx",
                              L"x.png", L".pn", L".p.g", L"."}) {
        EXPECT_FALSE(MatchesExtensionPattern(no)) << testing::PrintToString(std::wstring(no));
    }
    // An embedded NUL is part of the text matched, not its end.
    EXPECT_FALSE(MatchesExtensionPattern(std::wstring_view(L".png\0x", 6)));
}

TEST(ExtensionTest, NullNameSkipsTheTestAndReachesTheHeaderProbeWithoutAName) {
    RecordingProbes probes;
    EXPECT_EQ(RecognizeFile(nullptr, 0x123456, probes.Probes()), 1);
    EXPECT_EQ(probes.headerCalls, 1);
    EXPECT_EQ(probes.fileName, nullptr);
}

// ---- Choice of probe ------------------------------------------------------------

struct ArgumentCase {
    ULONG_PTR value;
    bool isHandle;
};

TEST(ProbeChoice, ValuesBelow0x10000AreHandlesTheRestAddresses) {
    const ArgumentCase cases[] = {{0, true},           {4, true},           {0xFFFF, true},
                                  {0x10000, false},    {0x10001, false},    {0x7FFF0000, false},
                                  {~ULONG_PTR(0), false}};
    for (const ArgumentCase& c : cases) {
        EXPECT_EQ(IsFileHandleValue(c.value), c.isHandle) << Hex(long(c.value));
        RecordingProbes probes;
        ASSERT_EQ(RecognizeFile(L"a.png", c.value, probes.Probes()), 1);
        EXPECT_EQ(probes.handleCalls, c.isHandle ? 1 : 0) << Hex(long(c.value));
        EXPECT_EQ(probes.headerCalls, c.isHandle ? 0 : 1) << Hex(long(c.value));
        if (c.isHandle) EXPECT_EQ(probes.handle, reinterpret_cast<HANDLE>(c.value));
        else EXPECT_EQ(probes.header, reinterpret_cast<const void*>(c.value));
    }
}

TEST(ProbeChoice, OnlyStatusZeroIsSupported) {
    for (PluginStatus status : {Success, Cancelled, UnsupportedFormat, OutOfMemory, InternalError, NotImplemented}) {
        for (ULONG_PTR headerOrHandle : {ULONG_PTR(0x40), ULONG_PTR(0x123456)}) {
            RecordingProbes probes;
            probes.answer = status;
            EXPECT_EQ(RecognizeFile(L"a.png", headerOrHandle, probes.Probes()), status == Success ? 1 : 0)
                << status;
        }
    }
}

// ---- Header probe ---------------------------------------------------------------

// Opens nothing itself: answers with a chosen error, or with the real opener.
struct CountingOpener {
    DWORD error = ERROR_FILE_NOT_FOUND;  // ERROR_SUCCESS: open for real
    int calls = 0;
    std::wstring lastName;

    NamedFileOpener Opener() {
        return [this](const wchar_t* name, DWORD& out) {
            ++calls;
            lastName = name;
            if (error == ERROR_SUCCESS) return OpenNamedFile(name, out);
            out = error;
            return UniqueFile();
        };
    }
};

class HeaderProbe : public testing::Test {
protected:
    ComScope com;
    ImagingContext context;
    CountingOpener opener;
    std::wstring scratch = ScratchDirectory(L"file_recognition");

    PluginStatus Probe(const std::vector<uint8_t>& header, const wchar_t* name) {
        EXPECT_EQ(header.size(), kHeaderBufferSize);
        return ProbeHeaderBuffer(context, header.data(), name, opener.Opener());
    }
    std::wstring Write(const std::wstring& name, const std::vector<uint8_t>& bytes) {
        const std::wstring path = scratch + L"\\" + name;
        EXPECT_TRUE(WriteFileBytes(path, bytes));
        return path;
    }
};

TEST_F(HeaderProbe, HeaderThatOpensDecidesAloneAndTheFileIsNotOpened) {
    const std::wstring largePng = SuitePath(kLargePng);
    EXPECT_EQ(Probe(HeaderOf(ReadFileBytes(SuitePath(kSmallPng))), L"missing.png"), Success);
    // A JPEG header under a .png name is refused even though the named file is a PNG.
    const PluginStatus jpeg = Probe(HeaderOf(SmallJpeg()), largePng.c_str());
    EXPECT_EQ(jpeg, UnsupportedFormat) << Hex(jpeg);
    EXPECT_EQ(opener.calls, 0);
}

TEST_F(HeaderProbe, WithoutANameTheHeadersFailureIsTheAnswer) {
    for (const wchar_t* name : {static_cast<const wchar_t*>(nullptr), L""}) {
        const PluginStatus status = Probe(Unrecognised(), name);
        EXPECT_EQ(status, UnsupportedFormat) << Hex(status);
    }
    EXPECT_EQ(opener.calls, 0);
}

TEST_F(HeaderProbe, MissingFileIsTakenAsSupported) {
    opener.error = ERROR_FILE_NOT_FOUND;
    EXPECT_EQ(Probe(Unrecognised(), L"C:\\somewhere\\missing.png"), Success);
    EXPECT_EQ(opener.calls, 1);
    EXPECT_EQ(opener.lastName, L"C:\\somewhere\\missing.png");
}

TEST_F(HeaderProbe, EveryOtherOpenFailureGivesTheHeadersStatus) {
    for (DWORD error : {DWORD(ERROR_PATH_NOT_FOUND), DWORD(ERROR_ACCESS_DENIED), DWORD(ERROR_SHARING_VIOLATION),
                        DWORD(ERROR_INVALID_NAME), DWORD(ERROR_NOT_READY)}) {
        opener.error = error;
        const PluginStatus status = Probe(Unrecognised(), L"x.png");
        EXPECT_EQ(status, UnsupportedFormat) << "error " << error << " gave " << Hex(status);
    }
}

TEST_F(HeaderProbe, RealOpenerTellsAMissingFileFromAMissingFolder) {
    opener.error = ERROR_SUCCESS;
    EXPECT_EQ(Probe(Unrecognised(), (scratch + L"\\missing.png").c_str()), Success);
    const PluginStatus noFolder = Probe(Unrecognised(), (scratch + L"\\no folder\\missing.png").c_str());
    EXPECT_EQ(noFolder, UnsupportedFormat) << Hex(noFolder);
}

TEST_F(HeaderProbe, ExistingFileDecidesWhenTheHeaderDoesNotOpen) {
    opener.error = ERROR_SUCCESS;
    struct FileCase {
        std::wstring path;
        PluginStatus expected;
    };
    const FileCase cases[] = {
        {SuitePath(kLargePng), Success},
        {SuitePath(L"basi6a16.png"), Success},
        {SuitePath(kSmallPng), Success},
        {Write(L"text.png", TextBytes()), UnsupportedFormat},
        {Write(L"empty.png", {}), UnsupportedFormat},
        {Write(L"jpeg.png", SmallJpeg()), UnsupportedFormat},  // opens, but not as PNG
    };
    for (const FileCase& c : cases) {
        const PluginStatus status = Probe(Unrecognised(), c.path.c_str());
        EXPECT_EQ(status, c.expected) << testing::PrintToString(c.path) << " gave " << Hex(status);
    }
    EXPECT_EQ(opener.calls, int(std::size(cases)));
}

TEST_F(HeaderProbe, LockedFileGivesTheHeadersStatus) {
    opener.error = ERROR_SUCCESS;
    const std::wstring path = Write(L"locked.png", ReadFileBytes(SuitePath(kLargePng)));
    UniqueFile exclusive(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(exclusive);
    const PluginStatus status = Probe(Unrecognised(), path.c_str());
    EXPECT_EQ(status, UnsupportedFormat) << Hex(status);
}

TEST_F(HeaderProbe, WholeFileIsReadWhenItsHeaderAloneDoesNotOpen) {
    // Whether 2048 bytes of a larger PNG open on their own is the platform's affair;
    // either way the answer is yes.
    opener.error = ERROR_SUCCESS;
    for (const std::wstring& name : {kLargePng, std::wstring(L"basi6a16.png")}) {
        const std::wstring path = SuitePath(name);
        const PluginStatus status = Probe(HeaderOf(ReadFileBytes(path)), path.c_str());
        EXPECT_EQ(status, Success) << testing::PrintToString(name) << " gave " << Hex(status);
    }
}

TEST(ProbeWithoutFactory, GivesTheMappedStatusAndOpensNothing) {
    const ImagingContext context([](IWICImagingFactory**) { return E_OUTOFMEMORY; });
    CountingOpener opener;
    const std::vector<uint8_t> header = Unrecognised();
    EXPECT_EQ(ProbeHeaderBuffer(context, header.data(), L"missing.png", opener.Opener()), OutOfMemory);
    EXPECT_EQ(ProbeFileHandle(context, GetStdHandle(STD_INPUT_HANDLE)), OutOfMemory);
    EXPECT_EQ(opener.calls, 0);
}

// ---- Through the exports ----------------------------------------------------------

class IsSupportedExport : public testing::Test {
protected:
    const PluginLibrary& plugin = Plugin();
    std::wstring scratch = ScratchDirectory(L"file_recognition_export");

    // Both exports with the same name: the ANSI one gets it through the ANSI code page.
    void ExpectBoth(const std::wstring& name, ULONG_PTR headerOrHandle, int expected) {
        EXPECT_EQ(plugin.IsSupportedW(name.c_str(), headerOrHandle), expected) << testing::PrintToString(name);
        EXPECT_EQ(plugin.IsSupported(Ansi(name).c_str(), headerOrHandle), expected) << testing::PrintToString(name);
    }
    static std::string Ansi(const std::wstring& name) {
        std::string out(name.size() * 2 + 1, '\0');
        const int n = WideCharToMultiByte(CP_ACP, 0, name.c_str(), -1, out.data(), int(out.size()), nullptr, nullptr);
        out.resize(n > 0 ? size_t(n - 1) : 0);
        return out;
    }
    std::wstring Write(const std::wstring& name, const std::vector<uint8_t>& bytes) {
        const std::wstring path = scratch + L"\\" + name;
        EXPECT_TRUE(WriteFileBytes(path, bytes));
        return path;
    }
};

TEST_F(IsSupportedExport, ExtensionDecidesFirst) {
    const std::vector<uint8_t> png = HeaderOf(ReadFileBytes(SuitePath(kSmallPng)));
    for (const ExtensionCase& c : kExtensionCases) {
        // The named files do not exist: a name that passes is answered by its header.
        ExpectBoth(scratch + L"\\" + c.name, AddressOf(png), c.passes ? 1 : 0);
    }
    // The same again: the second call uses the pattern built by the first.
    ExpectBoth(L"again.png", AddressOf(png), 1);
    ExpectBoth(L"again.gif", AddressOf(png), 0);
}

TEST_F(IsSupportedExport, NullName) {
    const std::vector<uint8_t> png = HeaderOf(ReadFileBytes(SuitePath(kSmallPng)));
    EXPECT_EQ(plugin.IsSupportedW(nullptr, AddressOf(png)), 1);
    EXPECT_EQ(plugin.IsSupported(nullptr, AddressOf(png)), 0);
    const std::vector<uint8_t> other = Unrecognised();
    EXPECT_EQ(plugin.IsSupportedW(nullptr, AddressOf(other)), 0);
    EXPECT_EQ(plugin.IsSupportedW(L"", AddressOf(png)), 0);
}

TEST_F(IsSupportedExport, HeaderBytes) {
    const std::wstring largePng = SuitePath(kLargePng);
    const std::wstring text = Write(L"notes.png", TextBytes());
    const std::vector<uint8_t> smallPng = HeaderOf(ReadFileBytes(SuitePath(kSmallPng)));
    const std::vector<uint8_t> jpeg = HeaderOf(SmallJpeg());
    const std::vector<uint8_t> unrecognised = Unrecognised();
    ExpectBoth(SuitePath(kSmallPng), AddressOf(smallPng), 1);
    // A JPEG header is refused although the named file is a PNG: the file is not looked at.
    ExpectBoth(largePng, AddressOf(jpeg), 0);
    // Unrecognised bytes: a missing file is taken on its name, an existing one is read.
    ExpectBoth(scratch + L"\\missing.png", AddressOf(unrecognised), 1);
    ExpectBoth(largePng, AddressOf(unrecognised), 1);
    ExpectBoth(text, AddressOf(unrecognised), 0);
    ExpectBoth(text, AddressOf(HeaderOf(TextBytes())), 0);
    // A larger PNG's own first 2048 bytes.
    for (const wchar_t* name : {kLargePng.c_str(), L"basi6a16.png"}) {
        const std::vector<uint8_t> header = HeaderOf(ReadFileBytes(SuitePath(name)));
        ExpectBoth(SuitePath(name), AddressOf(header), 1);
    }
}

// Opens a file the way a host does before handing over its handle.
UniqueFile OpenForHost(const std::wstring& path) {
    return UniqueFile(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
}

TEST_F(IsSupportedExport, FileHandle) {
    struct HandleCase {
        std::wstring path;
        const wchar_t* name;
        int expected;
    };
    const HandleCase cases[] = {
        {SuitePath(kSmallPng), L"small.png", 1},
        {SuitePath(kLargePng), L"large.PNG", 1},
        {SuitePath(kLargePng), L"large.jpg", 0},
        {Write(L"notes.png", TextBytes()), L"notes.png", 0},
        {Write(L"photo.png", SmallJpeg()), L"photo.png", 0},
    };
    for (const HandleCase& c : cases) {
        const std::vector<uint8_t> bytes = ReadFileBytes(c.path);
        for (bool wide : {true, false}) {
            const UniqueFile file = OpenForHost(c.path);
            ASSERT_TRUE(file);
            const auto handle = reinterpret_cast<ULONG_PTR>(file.get());
            ASSERT_LT(handle, kFirstHeaderAddress) << "handle values are expected to be small";
            const int answer = wide ? plugin.IsSupportedW(c.name, handle)
                                    : plugin.IsSupported(Ansi(c.name).c_str(), handle);
            EXPECT_EQ(answer, c.expected) << testing::PrintToString(c.path) << (wide ? " W" : " A");

            // The handle is still the host's: open, and readable from wherever it seeks.
            LARGE_INTEGER size{};
            ASSERT_TRUE(GetFileSizeEx(file.get(), &size));
            EXPECT_EQ(size.QuadPart, LONGLONG(bytes.size()));
            ASSERT_EQ(SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN), 0u);
            std::vector<uint8_t> again(bytes.size() + 16);
            DWORD read = 0;
            ASSERT_TRUE(ReadFile(file.get(), again.data(), DWORD(again.size()), &read, nullptr));
            again.resize(read);
            EXPECT_EQ(again, bytes);
        }
    }
}

TEST_F(IsSupportedExport, SmallValuesAreNeverReadAsAddresses) {
    // Not open handles: the handle probe fails, nothing is dereferenced.
    for (ULONG_PTR value : {ULONG_PTR(0), ULONG_PTR(0x1234), ULONG_PTR(0xFFFF)}) {
        EXPECT_EQ(plugin.IsSupportedW(L"a.png", value), 0) << Hex(long(value));
        EXPECT_EQ(plugin.IsSupported("a.png", value), 0) << Hex(long(value));
    }
}

// True when 2048 bytes from `address` on are committed and readable.
bool ReadableHeaderAt(ULONG_PTR address) {
    MEMORY_BASIC_INFORMATION region{};
    if (!VirtualQuery(reinterpret_cast<void*>(address), &region, sizeof region)) return false;
    const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                           PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    const auto end = reinterpret_cast<ULONG_PTR>(region.BaseAddress) + region.RegionSize;
    return region.State == MEM_COMMIT && (region.Protect & readable) && !(region.Protect & PAGE_GUARD) &&
           end - address >= kHeaderBufferSize;
}

TEST_F(IsSupportedExport, Address0x10000IsAHeaderBuffer) {
    // 0x10000 is the lowest address a host may pass a header at. Map a PNG header there
    // when the system lets us.
    void* region = VirtualAlloc(reinterpret_cast<void*>(0x10000), kHeaderBufferSize, MEM_RESERVE | MEM_COMMIT,
                                PAGE_READWRITE);
    if (region == reinterpret_cast<void*>(0x10000)) {
        const std::vector<uint8_t> png = HeaderOf(ReadFileBytes(SuitePath(kSmallPng)));
        std::copy(png.begin(), png.end(), static_cast<uint8_t*>(region));
        ExpectBoth(L"a.png", 0x10000, 1);
        ExpectBoth(L"a.jpg", 0x10000, 0);
        VirtualFree(region, 0, MEM_RELEASE);
        return;
    }
    if (region) VirtualFree(region, 0, MEM_RELEASE);
    // Otherwise something is there already (64-bit Wine keeps a read-only page at 0x10000).
    // Its bytes are no picture, so with the name of a missing .png file only the header
    // path answers 1; as a handle it would answer 0.
    if (!ReadableHeaderAt(0x10000)) GTEST_SKIP() << "nothing readable can be placed at 0x10000 here";
    ExpectBoth(scratch + L"\\missing.png", 0x10000, 1);
    ExpectBoth(L"a.jpg", 0x10000, 0);
}

}  // namespace
