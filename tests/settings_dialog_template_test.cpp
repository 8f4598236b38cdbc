// Dialog template 101 as the resource compiler stored it in the DLL: language, font, frame
// and every control with its id, class, flags, rectangle and Japanese text, in order.
#include "resources/ConfigDialogIds.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);  // 0x0411
constexpr WORD kButtonClass = 0x0080;
constexpr WORD kStaticClass = 0x0082;

// Reads the variable-length parts of a DLGTEMPLATEEX (all WORD-aligned, items DWORD-aligned).
class TemplateReader {
public:
    TemplateReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    template <class T>
    T Read() {
        T value{};
        if (offset_ + sizeof(T) > size_) { overrun_ = true; return value; }
        std::memcpy(&value, data_ + offset_, sizeof(T));
        offset_ += sizeof(T);
        return value;
    }
    std::wstring ReadString() {
        std::wstring text;
        for (wchar_t c = Read<wchar_t>(); c != 0 && !overrun_; c = Read<wchar_t>()) text += c;
        return text;
    }
    // sz_Or_Ord: 0 = none, 0xFFFF + ordinal, or a string. Ordinals come back as "#n".
    std::wstring ReadNameOrOrdinal() {
        const WORD first = Read<WORD>();
        if (first == 0) return L"";
        if (first == 0xFFFF) return L"#" + std::to_wstring(Read<WORD>());
        offset_ -= sizeof(WORD);
        return ReadString();
    }
    void AlignTo(size_t alignment) { offset_ = (offset_ + alignment - 1) / alignment * alignment; }
    void Skip(size_t n) { offset_ += n; }
    bool overrun() const { return overrun_ || offset_ > size_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t offset_ = 0;
    bool overrun_ = false;
};

struct ControlTemplate {
    DWORD style;
    DWORD exStyle;
    short x, y, cx, cy;
    int id;
    std::wstring windowClass;
    std::wstring text;
};

struct DialogTemplate {
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::wstring menu, windowClass, caption, face;
    WORD pointSize = 0, weight = 0;
    BYTE italic = 0, charset = 0;
    std::vector<ControlTemplate> controls;
};

bool ParseDialog(const uint8_t* data, size_t size, DialogTemplate& out) {
    TemplateReader r(data, size);
    if (r.Read<WORD>() != 1 || r.Read<WORD>() != 0xFFFF) return false;  // version 1, extended
    r.Read<DWORD>();                                                   // help id
    out.exStyle = r.Read<DWORD>();
    out.style = r.Read<DWORD>();
    const WORD count = r.Read<WORD>();
    out.x = r.Read<short>(), out.y = r.Read<short>(), out.cx = r.Read<short>(), out.cy = r.Read<short>();
    out.menu = r.ReadNameOrOrdinal();
    out.windowClass = r.ReadNameOrOrdinal();
    out.caption = r.ReadString();
    if (out.style & DS_SETFONT) {
        out.pointSize = r.Read<WORD>();
        out.weight = r.Read<WORD>();
        out.italic = r.Read<BYTE>();
        out.charset = r.Read<BYTE>();
        out.face = r.ReadString();
    }
    for (WORD i = 0; i < count; ++i) {
        r.AlignTo(4);
        ControlTemplate c{};
        r.Read<DWORD>();  // help id
        c.exStyle = r.Read<DWORD>();
        c.style = r.Read<DWORD>();
        c.x = r.Read<short>(), c.y = r.Read<short>(), c.cx = r.Read<short>(), c.cy = r.Read<short>();
        c.id = static_cast<int>(r.Read<DWORD>());
        c.windowClass = r.ReadNameOrOrdinal();
        c.text = r.ReadNameOrOrdinal();
        r.Skip(r.Read<WORD>());  // creation data
        out.controls.push_back(c);
    }
    return !r.overrun();
}

std::wstring ClassOrdinal(WORD atom) { return L"#" + std::to_wstring(atom); }

struct ExpectedControl {
    int id;
    WORD classAtom;
    DWORD style;  // besides WS_CHILD | WS_VISIBLE
    short x, y, cx, cy;
    const wchar_t* text;
};

// The settings dialog's controls in tab and group order.
const ExpectedControl kControls[] = {
    {-1, kButtonClass, BS_GROUPBOX | WS_GROUP, 6, 6, 198, 66, L"アルファ情報の片づけ方"},
    {1002, kButtonClass, BS_AUTORADIOBUTTON, 12, 18, 75, 10, L"アルファ情報を除去(&R)"},
    {1003, kButtonClass, BS_AUTORADIOBUTTON, 12, 42, 73, 10, L"指定した色と合成(&T)"},
    {1016, kButtonClass, BS_OWNERDRAW | WS_DISABLED, 103, 37, 12, 12, L""},
    {1004, kButtonClass, BS_PUSHBUTTON | WS_GROUP | WS_TABSTOP, 115, 36, 82, 14, L"色の設定(&C)"},
    {1005, kButtonClass, BS_OWNERDRAW | WS_TABSTOP, 117, 54, 10, 12, L"&1"},
    {1006, kButtonClass, BS_OWNERDRAW | WS_TABSTOP, 127, 54, 10, 12, L"&2"},
    {1007, kButtonClass, BS_OWNERDRAW | WS_TABSTOP, 137, 54, 10, 12, L"&3"},
    {1008, kButtonClass, BS_OWNERDRAW | WS_TABSTOP, 147, 54, 10, 12, L"&4"},
    {1009, kButtonClass, BS_OWNERDRAW | WS_TABSTOP, 157, 54, 10, 12, L"&5"},
    {1010, kButtonClass, BS_OWNERDRAW | WS_TABSTOP, 167, 54, 10, 12, L"&6"},
    {1011, kButtonClass, BS_OWNERDRAW | WS_TABSTOP, 177, 54, 10, 12, L"&7"},
    {1012, kButtonClass, BS_OWNERDRAW | WS_TABSTOP, 187, 54, 10, 12, L"&8"},
    {-1, kStaticClass, SS_LEFT | WS_GROUP, 102, 56, 15, 8, L"履歴"},
    {1018, kButtonClass, BS_AUTOCHECKBOX | WS_GROUP | WS_TABSTOP, 6, 81, 102, 10, L"Exifの向き情報があれば使う(&E)"},
    {IDOK, kButtonClass, BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP, 114, 78, 42, 18, L"OK"},
    {IDCANCEL, kButtonClass, BS_PUSHBUTTON | WS_TABSTOP, 162, 78, 42, 18, L"キャンセル"},
};

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR found) {
    reinterpret_cast<std::vector<WORD>*>(found)->push_back(language);
    return TRUE;
}

class DialogTemplateTest : public ::testing::Test {
protected:
    void SetUp() override {
        HMODULE module = Plugin().module.get();
        HRSRC resource = FindResourceExW(module, MAKEINTRESOURCEW(5) /* RT_DIALOG */, MAKEINTRESOURCEW(IDD_CONFIG),
                                         kJapanese);
        ASSERT_NE(resource, nullptr) << "no Japanese dialog 101: " << Hex(GetLastError());
        HGLOBAL loaded = LoadResource(module, resource);
        ASSERT_NE(loaded, nullptr);
        const auto* data = static_cast<const uint8_t*>(LockResource(loaded));
        ASSERT_TRUE(ParseDialog(data, SizeofResource(module, resource), dialog_)) << "malformed template";
    }

    DialogTemplate dialog_;
};

TEST_F(DialogTemplateTest, IsTheOnlyLanguageOfResource101) {
    std::vector<WORD> languages;
    EnumResourceLanguagesW(Plugin().module.get(), MAKEINTRESOURCEW(5), MAKEINTRESOURCEW(IDD_CONFIG), CollectLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
    EXPECT_EQ(languages, std::vector<WORD>{kJapanese});
}

TEST_F(DialogTemplateTest, FrameFontAndCaption) {
    EXPECT_EQ(dialog_.style, DWORD(DS_SHELLFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU))
        << Hex(long(dialog_.style));
    EXPECT_EQ(dialog_.exStyle, 0u);
    EXPECT_EQ(dialog_.x, 0);
    EXPECT_EQ(dialog_.y, 0);
    EXPECT_EQ(dialog_.cx, 211);
    EXPECT_EQ(dialog_.cy, 104);
    EXPECT_EQ(dialog_.menu, L"");
    EXPECT_EQ(dialog_.windowClass, L"");
    EXPECT_EQ(dialog_.caption, L"Dialog");
    EXPECT_EQ(dialog_.face, L"MS Shell Dlg");
    EXPECT_EQ(dialog_.pointSize, 9);
    EXPECT_EQ(dialog_.weight, 400);
    EXPECT_EQ(dialog_.italic, 0);
    EXPECT_EQ(dialog_.charset, SHIFTJIS_CHARSET);
}

TEST_F(DialogTemplateTest, ControlsInOrderWithTheirTextsAndFlags) {
    ASSERT_EQ(dialog_.controls.size(), std::size(kControls));
    for (size_t i = 0; i < std::size(kControls); ++i) {
        const ExpectedControl& want = kControls[i];
        const ControlTemplate& got = dialog_.controls[i];
        SCOPED_TRACE("control " + std::to_string(i) + " (id " + std::to_string(want.id) + ")");
        EXPECT_EQ(static_cast<short>(got.id), want.id);
        EXPECT_EQ(got.windowClass, ClassOrdinal(want.classAtom));
        EXPECT_EQ(got.style, WS_CHILD | WS_VISIBLE | want.style) << Hex(long(got.style));
        EXPECT_EQ(got.exStyle, 0u);
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.cx, want.cx);
        EXPECT_EQ(got.cy, want.cy);
        EXPECT_TRUE(got.text == want.text) << "text differs";
    }
}

}  // namespace
