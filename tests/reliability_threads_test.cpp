// Eight host threads decoding different pictures at once through the plug-in, round after
// round: threads without COM, in single-threaded and in multithreaded apartments. Every
// picture must equal the one decoded alone, and each thread's apartment must be as its
// host left it.
#include "tests/support/DibReader.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <barrier>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kThreads = 8;
constexpr int kRounds = 40;

enum class Apartment { None, SingleThreaded, MultiThreaded };
constexpr Apartment kApartments[kThreads] = {Apartment::None, Apartment::SingleThreaded, Apartment::MultiThreaded,
                                             Apartment::None, Apartment::SingleThreaded, Apartment::MultiThreaded,
                                             Apartment::None, Apartment::SingleThreaded};

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

struct Picture {
    std::string name;
    std::vector<uint8_t> bytes;
    std::wstring path;
    // Decoded alone, before any thread starts.
    std::string fingerprint;
    PictureInfo info{};
};

// Pixels of a recognisable gradient with varying alpha, 32bppBGRA rows.
std::vector<uint8_t> Gradient(unsigned width, unsigned height) {
    std::vector<uint8_t> pixels(size_t(width) * height * 4);
    for (unsigned y = 0; y < height; ++y)
        for (unsigned x = 0; x < width; ++x) {
            uint8_t* p = &pixels[(size_t(y) * width + x) * 4];
            p[0] = uint8_t(x);
            p[1] = uint8_t(y * 3);
            p[2] = uint8_t(x ^ y);
            p[3] = uint8_t(x + y);
        }
    return pixels;
}

std::string Fingerprint(HLOCAL info, HLOCAL bits) {
    DecodedDib dib;
    if (!ReadDib(info, bits, dib)) return "unreadable blocks";
    return dib.Fingerprint();
}

// Pictures of every path through the decoder. The large ones (above 256 KiB of rows) make
// the 32-bit build's row loop run on a team, so teams of different host threads overlap.
std::vector<Picture> MakePictures() {
    std::vector<Picture> pictures;
    const std::wstring dir = ScratchDirectory(L"reliability_threads");
    auto add = [&](const std::string& name, std::vector<uint8_t> bytes) {
        Picture picture;
        picture.name = name;
        picture.bytes = std::move(bytes);
        picture.path = dir + L"\\" + std::wstring(name.begin(), name.end()) + L".png";
        if (!WriteFileBytes(picture.path, picture.bytes)) throw std::runtime_error("cannot write " + name);
        pictures.push_back(std::move(picture));
    };
    add("rgba-320x260", EncodeWithWic(GUID_ContainerFormatPng, 320, 260, GUID_WICPixelFormat32bppBGRA, Gradient(320, 260)));
    add("rgb-400x300", EncodeWithWic(GUID_ContainerFormatPng, 400, 300, GUID_WICPixelFormat24bppBGR));
    add("gray-640x440", EncodeWithWic(GUID_ContainerFormatPng, 640, 440, GUID_WICPixelFormat8bppGray));
    add("indexed-560x500", EncodeWithWic(GUID_ContainerFormatPng, 560, 500, GUID_WICPixelFormat8bppIndexed));
    for (const wchar_t* suite : {L"basn3p04.png", L"basn6a08.png", L"basi2c16.png", L"tbbn3p08.png", L"basn0g01.png",
                                 L"s01n3p01.png", L"basn4a16.png"})
        add(Narrow(suite), ReadFileBytes(SuitePath(suite)));
    return pictures;
}

// The serial decode every threaded one is compared with.
void DecodeAlone(Picture& picture) {
    HLOCAL info = nullptr, bits = nullptr;
    ASSERT_EQ(Plugin().GetPicture(reinterpret_cast<LPCSTR>(picture.bytes.data()), LengthOrOffset(picture.bytes.size()),
                                  1, &info, &bits, nullptr, 0),
              0)
        << picture.name;
    UniqueHlocal infoBlock(info), bitsBlock(bits);
    picture.fingerprint = Fingerprint(info, bits);
    ASSERT_EQ(Plugin().GetPictureInfoW(picture.path.c_str(), 0, 0, &picture.info), 0) << picture.name;
}

// The calling thread's own apartment as one of the three kinds. A thread without one is
// reported in the process's implicit multithreaded apartment while any thread holds an
// MTA: that is still no apartment of its own.
std::string ApartmentOf() {
    APTTYPE type{};
    APTTYPEQUALIFIER qualifier{};
    const HRESULT hr = CoGetApartmentType(&type, &qualifier);
    if (hr == CO_E_NOTINITIALIZED) return "none";
    if (FAILED(hr)) return "query failed " + Hex(hr);
    if (type == APTTYPE_MTA && qualifier == APTTYPEQUALIFIER_IMPLICIT_MTA) return "none";
    if (type == APTTYPE_STA || type == APTTYPE_MAINSTA) return "single-threaded";
    if (type == APTTYPE_MTA) return "multithreaded";
    return "other (" + std::to_string(int(type)) + ")";
}

std::string Expected(Apartment apartment) {
    switch (apartment) {
    case Apartment::None: return "none";
    case Apartment::SingleThreaded: return "single-threaded";
    default: return "multithreaded";
    }
}

// One host thread: joins its apartment, decodes a picture per round in step with the
// others, and records what went wrong (gtest's checks are used on the main thread only).
struct HostThread {
    int index = 0;
    const std::vector<Picture>* pictures = nullptr;
    std::barrier<>* roundStart = nullptr;
    std::vector<std::string> faults;
    size_t calls = 0;

    void Run() {
        const Apartment apartment = kApartments[index];
        HRESULT joined = S_OK;
        if (apartment == Apartment::SingleThreaded) joined = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (apartment == Apartment::MultiThreaded) joined = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (FAILED(joined)) faults.push_back("cannot join the apartment: " + Hex(joined));
        for (int round = 0; round < kRounds; ++round) {
            roundStart->arrive_and_wait();
            // Each thread takes another picture, and another one each round.
            const Picture& picture = (*pictures)[size_t(index + round * 3) % pictures->size()];
            Decode(picture, round);
            const std::string now = ApartmentOf();
            if (now != Expected(apartment))
                faults.push_back("round " + std::to_string(round) + ": apartment is " + now + ", the host left it " +
                                 Expected(apartment));
        }
        // The plug-in left no apartment reference of its own behind: one uninitialisation
        // by the host ends the thread's apartment.
        if (apartment != Apartment::None) CoUninitialize();
        if (ApartmentOf() != "none") faults.push_back("the apartment outlives the host's CoUninitialize");
    }

    void Decode(const Picture& picture, int round) {
        const std::string where = picture.name + " in round " + std::to_string(round) + ": ";
        HLOCAL info = nullptr, bits = nullptr;
        // File and memory input, ANSI and wide exports, by turns.
        int status = 0;
        switch ((index + round) % 3) {
        case 0:
            status = Plugin().GetPicture(reinterpret_cast<LPCSTR>(picture.bytes.data()),
                                         LengthOrOffset(picture.bytes.size()), 1, &info, &bits, nullptr, 0);
            break;
        case 1: status = Plugin().GetPictureW(picture.path.c_str(), 0, 0, &info, &bits, nullptr, 0); break;
        default: status = Plugin().GetPicture(Narrow(picture.path).c_str(), 0, 0, &info, &bits, nullptr, 0); break;
        }
        ++calls;
        if (status != 0) {
            faults.push_back(where + "GetPicture gave " + std::to_string(status));
        } else {
            UniqueHlocal infoBlock(info), bitsBlock(bits);
            if (Fingerprint(info, bits) != picture.fingerprint) faults.push_back(where + "differs from the serial decode");
        }
        PictureInfo record{};
        status = Plugin().GetPictureInfo(reinterpret_cast<LPCSTR>(picture.bytes.data()),
                                         LengthOrOffset(picture.bytes.size()), 1, &record);
        ++calls;
        if (status != 0 || std::memcmp(&record, &picture.info, sizeof record) != 0)
            faults.push_back(where + "GetPictureInfo gave " + std::to_string(status) + " or another record");
        std::vector<uint8_t> header(2048, 0);
        std::memcpy(header.data(), picture.bytes.data(), std::min(header.size(), picture.bytes.size()));
        ++calls;
        if (Plugin().IsSupportedW(picture.path.c_str(), reinterpret_cast<ULONG_PTR>(header.data())) != 1)
            faults.push_back(where + "IsSupportedW said no");
    }
};

#ifndef _WIN64
// Calls `body(argument)` with the stack pointer `offset` bytes below where GCC's 16-byte
// convention puts it, as a host built for 4-byte stack alignment does (32-bit Windows
// promises no more).
extern "C" int CallWithStackOffset(int (*body)(void*), void* argument, unsigned offset);
asm(R"(
    .text
    .globl _CallWithStackOffset
_CallWithStackOffset:
    push %ebp
    mov %esp, %ebp
    and $-16, %esp
    sub 16(%ebp), %esp
    sub $12, %esp
    push 12(%ebp)
    call *8(%ebp)
    mov %ebp, %esp
    pop %ebp
    ret
)");
#endif

DWORD WINAPI RunHostThread(void* thread) {
    static_cast<HostThread*>(thread)->Run();
    return 0;
}

TEST(Threads, EightHostThreadsDecodeAsOneDoes) {
    std::vector<Picture> pictures = MakePictures();
    ASSERT_GE(pictures.size(), size_t(kThreads));
    for (Picture& picture : pictures) {
        DecodeAlone(picture);
        if (HasFatalFailure()) return;
    }

    std::barrier<> roundStart(kThreads);
    std::vector<HostThread> threads(kThreads);
    std::vector<UniqueKernelHandle> handles;
    for (int i = 0; i < kThreads; ++i) {
        threads[i].index = i;
        threads[i].pictures = &pictures;
        threads[i].roundStart = &roundStart;
        handles.emplace_back(CreateThread(nullptr, 0, RunHostThread, &threads[i], 0, nullptr));
        ASSERT_TRUE(handles.back()) << "cannot start thread " << i;
    }
    for (const UniqueKernelHandle& handle : handles) WaitForSingleObject(handle.get(), INFINITE);

    size_t calls = 0, faults = 0;
    for (const HostThread& thread : threads) {
        calls += thread.calls;
        faults += thread.faults.size();
        for (const std::string& fault : thread.faults) ADD_FAILURE() << "thread " << thread.index << ": " << fault;
    }
    std::printf("[reliability] threads: %d host threads (3 without COM, 3 single-threaded, 2 multithreaded apartments), "
                "%d rounds, %zu calls on %zu pictures, %zu differences from the serial decode or apartment changes\n",
                kThreads, kRounds, calls, pictures.size(), faults);
    std::fflush(stdout);
}

// Every export on a stack aligned only to 4 bytes: code that needs 16-byte aligned stack
// slots (SSE2 spills) must align them itself, in the exports and in the row loop's team.
TEST(HostStacks, StacksAlignedToFourBytesDecodeAsAlignedOnes) {
#ifdef _WIN64
    GTEST_SKIP() << "64-bit Windows aligns every stack to 16 bytes";
#else
    std::vector<Picture> pictures = MakePictures();
    for (Picture& picture : pictures) {
        DecodeAlone(picture);
        if (HasFatalFailure()) return;
    }
    struct Call {
        const Picture* picture;
        int status;
        std::string fingerprint;
        PictureInfo info;
        int supported;
    };
    size_t calls = 0;
    for (unsigned offset : {4u, 8u, 12u}) {
        for (const Picture& picture : pictures) {
            Call call{&picture, -1, {}, {}, -1};
            CallWithStackOffset(
                [](void* argument) -> int {
                    Call& c = *static_cast<Call*>(argument);
                    const auto bytes = reinterpret_cast<LPCSTR>(c.picture->bytes.data());
                    const auto length = LengthOrOffset(c.picture->bytes.size());
                    HLOCAL info = nullptr, bits = nullptr;
                    c.status = Plugin().GetPicture(bytes, length, 1, &info, &bits, nullptr, 0);
                    if (c.status == 0) {
                        c.fingerprint = Fingerprint(info, bits);
                        UniqueHlocal infoBlock(info), bitsBlock(bits);
                    }
                    Plugin().GetPictureInfoW(c.picture->path.c_str(), 0, 0, &c.info);
                    std::vector<uint8_t> header(2048, 0);
                    std::memcpy(header.data(), c.picture->bytes.data(), std::min(header.size(), c.picture->bytes.size()));
                    c.supported = Plugin().IsSupported("picture.png", reinterpret_cast<ULONG_PTR>(header.data()));
                    return 0;
                },
                &call, offset);
            EXPECT_EQ(call.status, 0) << picture.name << " at offset " << offset;
            EXPECT_TRUE(call.fingerprint == picture.fingerprint) << picture.name << " at offset " << offset;
            EXPECT_EQ(std::memcmp(&call.info, &picture.info, sizeof call.info), 0) << picture.name;
            EXPECT_EQ(call.supported, 1) << picture.name;
            calls += 3;
        }
    }
    std::printf("[reliability] host stacks: %zu calls on stacks 4, 8 and 12 bytes off 16-byte alignment\n", calls);
    std::fflush(stdout);
#endif
}

}  // namespace
