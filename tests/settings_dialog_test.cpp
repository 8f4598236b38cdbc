// ConfigurationDlg driven for real: the export runs the about box or the settings dialog on the
// test's thread while a second thread finds the window, reads and presses its controls, answers
// the colour picker, and closes it; the settings key is checked afterwards.
#include "resources/ConfigDialogIds.h"
#include "settings/ConfigDialog.h"
#include "tests/support/SettingsRegistry.h"
#include "tests/support/TestSupport.h"

#include <colordlg.h>
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

namespace {

// Every wait of the driver is bounded, so that a broken dialog fails the test instead of hanging it.
constexpr DWORD kWindowTimeoutMs = 10000;
constexpr DWORD kMessageTimeoutMs = 5000;
constexpr DWORD kRepaintTimeoutMs = 2000;
constexpr DWORD kPollMs = 20;

using History = std::array<ColorRef, 8>;
const History kDefaultHistory = PluginSettings{}.colorHistory;

// Colours for stored histories: A to H, the current colour X, and colours new to the history.
constexpr ColorRef A = 0x000001, B = 0x000002, C = 0x000003, D = 0x000004, E = 0x000005, F = 0x000006,
                   G = 0x000007, H = 0x000008, X = 0x102030, Y = 0x405060, Z = 0x708090;

// --- Windows of another thread ---

// Sends with a timeout, so that a hung dialog fails the test instead of hanging it.
LRESULT Send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, kMessageTimeoutMs, &result);
    return static_cast<LRESULT>(result);
}

std::wstring ClassName(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

std::wstring Text(HWND window) {
    wchar_t text[256] = {};
    Send(window, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text));
    return text;
}

struct DialogSearch {
    HWND owner;
    HWND found = nullptr;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM argument) {
    auto& search = *reinterpret_cast<DialogSearch*>(argument);
    if (ClassName(window) != L"#32770" || !IsWindowVisible(window)) return TRUE;
    if (GetWindow(window, GW_OWNER) != search.owner) return TRUE;
    search.found = window;
    return FALSE;
}

// A visible dialog of `thread` whose owner is `owner` (null: an unowned top-level dialog).
HWND FindDialog(DWORD thread, HWND owner) {
    DialogSearch search{owner};
    EnumThreadWindows(thread, MatchDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForDialog(DWORD thread, HWND owner) {
    for (DWORD waited = 0; waited < kWindowTimeoutMs; waited += kPollMs) {
        if (HWND found = FindDialog(thread, owner)) return found;
        Sleep(kPollMs);
    }
    return nullptr;
}

bool WaitUntilGone(HWND window) {
    for (DWORD waited = 0; waited < kWindowTimeoutMs; waited += kPollMs) {
        if (!IsWindow(window) || !IsWindowVisible(window)) return true;
        Sleep(kPollMs);
    }
    return false;
}

HWND Item(HWND dialog, int id) { return GetDlgItem(dialog, id); }
bool Checked(HWND dialog, int id) { return Send(Item(dialog, id), BM_GETCHECK) == BST_CHECKED; }
bool Enabled(HWND dialog, int id) { return IsWindowEnabled(Item(dialog, id)) != FALSE; }
void Click(HWND dialog, int id) { Send(Item(dialog, id), BM_CLICK); }
// For buttons whose handler runs a modal loop (the colour button): the driver must not wait.
void ClickLater(HWND dialog, int id) { PostMessageW(Item(dialog, id), BM_CLICK, 0, 0); }
void SelectColor(HWND dialog, ColorRef color) { Send(dialog, SelectColorMessage, color, 0); }

// The colour a control shows at (x, y) of its client area, read back from the screen.
COLORREF PixelOf(HWND control, int x, int y) {
    HDC dc = GetDC(control);
    const COLORREF pixel = GetPixel(dc, x, y);
    ReleaseDC(control, dc);
    return pixel;
}

// A swatch's fill colour, taken from its centre once it has repainted to `expected` (or the
// last colour seen when it does not within the timeout).
COLORREF SwatchColor(HWND dialog, int id, ColorRef expected) {
    HWND swatch = Item(dialog, id);
    RECT r{};
    GetClientRect(swatch, &r);
    COLORREF pixel = CLR_INVALID;
    for (DWORD waited = 0; waited < kRepaintTimeoutMs; waited += kPollMs) {
        RedrawWindow(swatch, nullptr, nullptr, RDW_UPDATENOW);
        pixel = PixelOf(swatch, r.right / 2, r.bottom / 2);
        if (pixel == expected) break;
        Sleep(kPollMs);
    }
    return pixel;
}

void ExpectSwatches(HWND dialog, ColorRef current, const History& history) {
    EXPECT_EQ(SwatchColor(dialog, IDC_CURRENT_COLOR, current), current) << "swatch 1016";
    for (int k = 0; k < 8; ++k)
        EXPECT_EQ(SwatchColor(dialog, IDC_HISTORY_FIRST + k, history[k]), history[k]) << "history slot " << k + 1;
}

// --- Running the export with a driver ---

using Driver = std::function<void(HWND window)>;

struct DriverJob {
    DWORD dialogThread;
    const Driver* drive;
    bool found = false;
};

// Ends whatever the driver left open (picker first, then the dialog), as Cancel would.
void CloseLeftovers(DWORD thread) {
    for (DWORD waited = 0; waited < kWindowTimeoutMs; waited += 100) {
        HWND dialog = FindDialog(thread, nullptr);
        if (!dialog) return;
        HWND picker = FindDialog(thread, dialog);
        PostMessageW(picker ? picker : dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        Sleep(100);
    }
}

DWORD WINAPI DriveDialog(void* argument) {
    auto& job = *static_cast<DriverJob*>(argument);
    HWND window = WaitForDialog(job.dialogThread, nullptr);
    job.found = window != nullptr;
    if (window) (*job.drive)(window);
    CloseLeftovers(job.dialogThread);
    return 0;
}

// Calls ConfigurationDlg(null, function) on this thread while `drive` works on the window it
// shows from a second thread; returns the export's result.
int RunConfiguration(int function, const Driver& drive) {
    DriverJob job{GetCurrentThreadId(), &drive};
    UniqueKernelHandle thread(CreateThread(nullptr, 0, DriveDialog, &job, 0, nullptr));
    if (!thread) {
        ADD_FAILURE() << "no driver thread";
        return -100;
    }
    const int result = Plugin().ConfigurationDlg(nullptr, function);
    WaitForSingleObject(thread.get(), INFINITE);  // the driver's own waits are bounded
    EXPECT_TRUE(job.found) << "no window appeared";
    return result;
}

int RunSettingsDialog(const Driver& drive) { return RunConfiguration(1, drive); }

// --- The colour picker ---

// Presses the colour button and hands the picker that opens to `answer`; waits until it closed.
void UsePicker(HWND dialog, const std::function<void(HWND picker)>& answer) {
    ClickLater(dialog, IDC_CHOOSE_COLOR);
    HWND picker = WaitForDialog(GetWindowThreadProcessId(dialog, nullptr), dialog);
    ASSERT_NE(picker, nullptr) << "the colour picker did not open";
    answer(picker);
    EXPECT_TRUE(WaitUntilGone(picker)) << "the colour picker stayed open";
}

ColorRef PickerColor(HWND picker) {
    const auto field = [&](int id) { return static_cast<ColorRef>(_wtoi(Text(Item(picker, id)).c_str())); };
    return field(COLOR_RED) | field(COLOR_GREEN) << 8 | field(COLOR_BLUE) << 16;
}

void SetPickerColor(HWND picker, ColorRef color) {
    const int parts[3] = {COLOR_RED, COLOR_GREEN, COLOR_BLUE};
    for (int i = 0; i < 3; ++i) {
        const std::wstring value = std::to_wstring((color >> (8 * i)) & 0xFF);
        Send(Item(picker, parts[i]), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(value.c_str()));
    }
}

// --- Reading back what the dialog saved ---

uint32_t StoredDword(const wchar_t* name) {
    DWORD type = 0;
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(GetSettingsValue(name, type, bytes)) << "no value";
    EXPECT_EQ(type, DWORD(REG_DWORD));
    if (bytes.size() != 4) {
        ADD_FAILURE() << "size " << bytes.size();
        return 0xDEADBEEF;
    }
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | uint32_t(bytes[3]) << 24;
}

template <size_t N>
std::array<ColorRef, N> StoredColors(const wchar_t* name) {
    DWORD type = 0;
    std::vector<uint8_t> bytes;
    std::array<ColorRef, N> colors{};
    colors.fill(0xDEADBEEF);
    EXPECT_TRUE(GetSettingsValue(name, type, bytes)) << "no value";
    EXPECT_EQ(type, DWORD(REG_BINARY));
    EXPECT_EQ(bytes.size(), N * 4);
    FillColorList(bytes, colors);
    return colors;
}

bool ValueExists(const wchar_t* name) {
    DWORD type = 0;
    std::vector<uint8_t> bytes;
    return GetSettingsValue(name, type, bytes);
}

class ConfigDialogTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(DeleteSettingsKey()); }
    void TearDown() override { DeleteSettingsKey(); }

    static void Store(const wchar_t* name, DWORD type, const std::vector<uint8_t>& bytes) {
        ASSERT_EQ(SetSettingsValue(name, type, bytes), ERROR_SUCCESS);
    }
    static void StoreSettings(uint32_t alpha, ColorRef color, const History& history) {
        Store(L"Alpha", REG_DWORD, DwordBytes(alpha));
        Store(L"Color", REG_DWORD, DwordBytes(color));
        Store(L"ColorHistory", REG_BINARY, ColorBytes(history));
    }
};

// ---------------------------------------------------------------------------------------------

TEST_F(ConfigDialogTest, OpensWithTheDefaultsWhenTheKeyIsAbsent) {
    const int result = RunSettingsDialog([](HWND dialog) {
        EXPECT_EQ(Text(dialog), kPluginName);
        EXPECT_NE(GetWindowLongPtrW(dialog, GWLP_USERDATA), 0) << "no state attached";
        EXPECT_FALSE(Checked(dialog, IDC_REMOVE_ALPHA));
        EXPECT_TRUE(Checked(dialog, IDC_COMPOSITE));
        EXPECT_TRUE(Enabled(dialog, IDC_CHOOSE_COLOR));
        for (int id = IDC_HISTORY_FIRST; id <= IDC_HISTORY_LAST; ++id) EXPECT_TRUE(Enabled(dialog, id)) << id;
        EXPECT_FALSE(Enabled(dialog, IDC_CURRENT_COLOR));
        EXPECT_FALSE(IsWindowVisible(Item(dialog, IDC_USE_EXIF))) << "check box 1018 is shown";
        EXPECT_TRUE(IsWindowVisible(Item(dialog, IDOK)));
        ExpectSwatches(dialog, 0xFFFFFF, kDefaultHistory);
        // The frame of a swatch is drawn in the button shadow colour.
        EXPECT_EQ(PixelOf(Item(dialog, IDC_HISTORY_FIRST + 7), 0, 5), GetSysColor(COLOR_BTNSHADOW));
        Click(dialog, IDCANCEL);
    });
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(SettingsKeyExists()) << "opening and cancelling wrote something";
}

struct ChildControl {
    const wchar_t* className;
    int id;
    const wchar_t* text;
};

TEST_F(ConfigDialogTest, ShowsTheJapaneseTextsInTabOrder) {
    const ChildControl expected[] = {
        {L"Button", 0xFFFF, L"アルファ情報の片づけ方"},
        {L"Button", 1002, L"アルファ情報を除去(&R)"},
        {L"Button", 1003, L"指定した色と合成(&T)"},
        {L"Button", 1016, L""},
        {L"Button", 1004, L"色の設定(&C)"},
        {L"Button", 1005, L"&1"}, {L"Button", 1006, L"&2"}, {L"Button", 1007, L"&3"}, {L"Button", 1008, L"&4"},
        {L"Button", 1009, L"&5"}, {L"Button", 1010, L"&6"}, {L"Button", 1011, L"&7"}, {L"Button", 1012, L"&8"},
        {L"Static", 0xFFFF, L"履歴"},
        {L"Button", 1018, L"Exifの向き情報があれば使う(&E)"},
        {L"Button", IDOK, L"OK"},
        {L"Button", IDCANCEL, L"キャンセル"},
    };
    RunSettingsDialog([&](HWND dialog) {
        HWND child = GetWindow(dialog, GW_CHILD);
        for (const ChildControl& want : expected) {
            ASSERT_NE(child, nullptr) << "missing control " << want.id;
            EXPECT_EQ(_wcsicmp(ClassName(child).c_str(), want.className), 0) << want.id;
            EXPECT_EQ(GetDlgCtrlID(child) & 0xFFFF, want.id);
            EXPECT_TRUE(Text(child) == want.text) << "text of control " << want.id;
            child = GetWindow(child, GW_HWNDNEXT);
        }
        EXPECT_EQ(child, nullptr) << "extra controls";
    });
}

struct InitialModeCase {
    const char* what;
    DWORD type;                   // REG_NONE: "Alpha" not stored
    std::vector<uint8_t> alpha;
    bool removeChosen;
    uint32_t savedOnOk;
};

// "Alpha" 0 selects removal; any other number, or no usable value, selects compositing. The
// colour controls follow the choice, the swatches show their colours either way.
TEST_F(ConfigDialogTest, InitialModeChoiceFollowsTheStoredAlpha) {
    const InitialModeCase cases[] = {
        {"Alpha missing", REG_NONE, {}, false, 1},
        {"Alpha 0", REG_DWORD, DwordBytes(0), true, 0},
        {"Alpha 1", REG_DWORD, DwordBytes(1), false, 1},
        {"Alpha 7", REG_DWORD, DwordBytes(7), false, 1},
        {"Alpha 0 as a byte block", REG_BINARY, DwordBytes(0), false, 1},
    };
    const History history = {A, B, C, D, E, F, G, H};
    for (const InitialModeCase& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(DeleteSettingsKey());
        Store(L"Color", REG_DWORD, DwordBytes(X));
        Store(L"ColorHistory", REG_BINARY, ColorBytes(history));
        if (c.type != REG_NONE) Store(L"Alpha", c.type, c.alpha);
        const int result = RunSettingsDialog([&](HWND dialog) {
            EXPECT_EQ(Checked(dialog, IDC_REMOVE_ALPHA), c.removeChosen);
            EXPECT_EQ(Checked(dialog, IDC_COMPOSITE), !c.removeChosen);
            EXPECT_EQ(Enabled(dialog, IDC_CHOOSE_COLOR), !c.removeChosen);
            for (int id = IDC_HISTORY_FIRST; id <= IDC_HISTORY_LAST; ++id)
                EXPECT_EQ(Enabled(dialog, id), !c.removeChosen) << id;
            EXPECT_FALSE(Enabled(dialog, IDC_CURRENT_COLOR));
            ExpectSwatches(dialog, X, history);
            Click(dialog, IDOK);
        });
        EXPECT_EQ(result, 0);
        EXPECT_EQ(StoredDword(L"Alpha"), c.savedOnOk);
    }
}

TEST_F(ConfigDialogTest, ModeChoiceEnablesTheColourControls) {
    const int result = RunSettingsDialog([](HWND dialog) {
        const auto expectColourControls = [&](bool enabled) {
            EXPECT_EQ(Enabled(dialog, IDC_CHOOSE_COLOR), enabled);
            for (int id = IDC_HISTORY_FIRST; id <= IDC_HISTORY_LAST; ++id) EXPECT_EQ(Enabled(dialog, id), enabled) << id;
            EXPECT_FALSE(Enabled(dialog, IDC_CURRENT_COLOR)) << "swatch 1016 stays disabled";
        };
        Click(dialog, IDC_REMOVE_ALPHA);
        EXPECT_TRUE(Checked(dialog, IDC_REMOVE_ALPHA));
        EXPECT_FALSE(Checked(dialog, IDC_COMPOSITE));
        expectColourControls(false);
        Click(dialog, IDC_COMPOSITE);
        EXPECT_TRUE(Checked(dialog, IDC_COMPOSITE));
        expectColourControls(true);
        Click(dialog, IDC_REMOVE_ALPHA);
        Click(dialog, IDOK);
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(StoredDword(L"Alpha"), 0u);
}

TEST_F(ConfigDialogTest, OkWithoutChangesWritesAllThreeValuesAndCreatesTheKey) {
    const int result = RunSettingsDialog([](HWND dialog) { Click(dialog, IDOK); });
    EXPECT_EQ(result, 0);
    ASSERT_TRUE(SettingsKeyExists());
    EXPECT_EQ(StoredDword(L"Alpha"), 1u);
    EXPECT_EQ(StoredDword(L"Color"), 0xFFFFFFu);
    EXPECT_EQ(StoredColors<8>(L"ColorHistory"), kDefaultHistory);
    EXPECT_FALSE(ValueExists(L"CustomColors")) << "the picker was never opened";
}

// A stored history shorter than eight colours fills the first slots; OK writes all eight.
TEST_F(ConfigDialogTest, ShortStoredHistoryKeepsTheDefaultsBehindIt) {
    Store(L"ColorHistory", REG_BINARY, ColorBytes({A, B, C}));
    const History expected = {A, B, C, kDefaultHistory[3], kDefaultHistory[4], kDefaultHistory[5],
                              kDefaultHistory[6], kDefaultHistory[7]};
    RunSettingsDialog([&](HWND dialog) {
        ExpectSwatches(dialog, 0xFFFFFF, expected);
        Click(dialog, IDOK);
    });
    EXPECT_EQ(StoredColors<8>(L"ColorHistory"), expected);
}

TEST_F(ConfigDialogTest, CancelAfterChangesWritesNothing) {
    const History history = {A, B, C, D, E, F, G, H};
    StoreSettings(1, X, history);
    const int result = RunSettingsDialog([](HWND dialog) {
        SelectColor(dialog, Y);
        SelectColor(dialog, D);
        Click(dialog, IDC_HISTORY_FIRST + 2);
        Click(dialog, IDC_REMOVE_ALPHA);
        Click(dialog, IDCANCEL);
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(StoredDword(L"Alpha"), 1u);
    EXPECT_EQ(StoredDword(L"Color"), X);
    EXPECT_EQ(StoredColors<8>(L"ColorHistory"), history);
}

// The close box reaches the dialog as Cancel.
TEST_F(ConfigDialogTest, ClosingTheWindowWritesNothing) {
    const int result = RunSettingsDialog([](HWND dialog) {
        SelectColor(dialog, Y);
        Send(dialog, WM_SYSCOMMAND, SC_CLOSE);
    });
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(SettingsKeyExists());
}

struct HistoryCase {
    const char* what;
    History stored;
    std::vector<ColorRef> selections;
    ColorRef current;
    History history;
};

// The history rule, through SelectColorMessage, as OK saves it and as the swatches show it.
TEST_F(ConfigDialogTest, SelectingColoursMovesTheHistory) {
    const HistoryCase cases[] = {
        {"the current colour changes nothing", {A, B, C, D, E, F, G, H}, {X}, X, {A, B, C, D, E, F, G, H}},
        {"a new colour drops slot 8", {A, B, C, D, E, F, G, H}, {Y}, Y, {X, A, B, C, D, E, F, G}},
        {"slot 1 only exchanges", {A, B, C, D, E, F, G, H}, {A}, A, {X, B, C, D, E, F, G, H}},
        {"slot 5 moves to the front", {A, B, C, D, E, F, G, H}, {E}, E, {X, A, B, C, D, F, G, H}},
        {"slot 8 moves to the front", {A, B, C, D, E, F, G, H}, {H}, H, {X, A, B, C, D, E, F, G}},
        {"a new colour, then one of the history", {A, B, C, D, E, F, G, H}, {Y, D}, D, {Y, X, A, B, C, E, F, G}},
        {"the first copy of a duplicate is taken", {A, B, C, D, E, D, G, H}, {D}, D, {X, A, B, C, E, D, G, H}},
        {"back and forth", {A, B, C, D, E, F, G, H}, {Y, X, Y}, Y, {X, A, B, C, D, E, F, G}},
    };
    for (const HistoryCase& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(DeleteSettingsKey());
        StoreSettings(1, X, c.stored);
        const int result = RunSettingsDialog([&](HWND dialog) {
            for (ColorRef color : c.selections) SelectColor(dialog, color);
            ExpectSwatches(dialog, c.current, c.history);
            Click(dialog, IDOK);
        });
        EXPECT_EQ(result, 0);
        EXPECT_EQ(StoredDword(L"Color"), c.current);
        EXPECT_EQ(StoredColors<8>(L"ColorHistory"), c.history);
    }
}

TEST_F(ConfigDialogTest, HistoryButtonsSelectTheirSlot) {
    StoreSettings(1, X, {A, B, C, D, E, F, G, H});
    RunSettingsDialog([](HWND dialog) {
        Click(dialog, IDC_HISTORY_FIRST + 3);  // slot 4: D
        ExpectSwatches(dialog, D, {X, A, B, C, E, F, G, H});
        Click(dialog, IDC_HISTORY_FIRST);  // slot 1, now X
        ExpectSwatches(dialog, X, {D, A, B, C, E, F, G, H});
        Click(dialog, IDOK);
    });
    EXPECT_EQ(StoredDword(L"Color"), X);
    EXPECT_EQ(StoredColors<8>(L"ColorHistory"), (History{D, A, B, C, E, F, G, H}));
}

// The picker opens on the current colour; its answer becomes current and the custom colours
// are saved at once, before the dialog itself is confirmed.
TEST_F(ConfigDialogTest, ConfirmedPickerSelectsItsColour) {
    StoreSettings(1, X, {A, B, C, D, E, F, G, H});
    const ColorRef picked = 0x563412;
    const int result = RunSettingsDialog([&](HWND dialog) {
        UsePicker(dialog, [&](HWND picker) {
            EXPECT_EQ(PickerColor(picker), X) << "the picker did not open on the current colour";
            SetPickerColor(picker, picked);
            EXPECT_EQ(PickerColor(picker), picked);
            Click(picker, IDOK);
        });
        ExpectSwatches(dialog, picked, {X, A, B, C, D, E, F, G});
        EXPECT_TRUE(ValueExists(L"CustomColors")) << "custom colours not saved after the picker";
        Click(dialog, IDOK);
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(StoredDword(L"Color"), picked);
    EXPECT_EQ(StoredColors<8>(L"ColorHistory"), (History{X, A, B, C, D, E, F, G}));
    std::array<ColorRef, 16> white;
    white.fill(0xFFFFFF);
    EXPECT_EQ(StoredColors<16>(L"CustomColors"), white);
}

TEST_F(ConfigDialogTest, CancelledPickerStillSavesTheCustomColours) {
    const int result = RunSettingsDialog([](HWND dialog) {
        UsePicker(dialog, [](HWND picker) {
            SetPickerColor(picker, Y);
            Click(picker, IDCANCEL);
        });
        ExpectSwatches(dialog, 0xFFFFFF, kDefaultHistory);
        Click(dialog, IDCANCEL);
    });
    EXPECT_EQ(result, 0);
    std::array<ColorRef, 16> white;
    white.fill(0xFFFFFF);
    EXPECT_EQ(StoredColors<16>(L"CustomColors"), white) << "white in every slot when nothing was stored";
    EXPECT_FALSE(ValueExists(L"Color"));
    EXPECT_FALSE(ValueExists(L"ColorHistory"));
    EXPECT_FALSE(ValueExists(L"Alpha"));
}

// Stored custom colours (30 bytes: seven colours and two stray bytes) reach the picker, and a
// colour added to them there is saved although the picker is cancelled.
TEST_F(ConfigDialogTest, CustomColoursEditedInACancelledPickerAreSaved) {
    std::vector<uint8_t> stored = ColorBytes({A, B, C, D, E, F, G});
    stored.push_back(0x11);
    stored.push_back(0x22);
    Store(L"CustomColors", REG_BINARY, stored);
    RunSettingsDialog([](HWND dialog) {
        UsePicker(dialog, [](HWND picker) {
            SetPickerColor(picker, Z);
            Click(picker, COLOR_ADD);
            Click(picker, IDCANCEL);
        });
        Click(dialog, IDCANCEL);
    });
    const std::array<ColorRef, 16> saved = StoredColors<16>(L"CustomColors");
    const std::array<ColorRef, 16> loaded = {A, B, C, D, E, F, G, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF,
                                             0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF};
    int added = 0;
    for (size_t slot = 0; slot < 16; ++slot) {
        if (saved[slot] == Z && loaded[slot] != Z) {
            ++added;
            continue;
        }
        EXPECT_EQ(saved[slot], loaded[slot]) << "custom slot " << slot + 1;
    }
    EXPECT_EQ(added, 1) << "the colour added in the picker was not saved";
    EXPECT_FALSE(ValueExists(L"Color"));
}

// A volatile parent key refuses the non-volatile settings key, so it cannot be opened for writing:
// the picker still runs (its custom colours are not saved), and OK ends the dialog with a failure.
TEST_F(ConfigDialogTest, SettingsKeyThatCannotBeCreatedFailsTheDialogAtOk) {
    constexpr const wchar_t* kParent = L"Software\\Tessalind";
    RegDeleteTreeW(HKEY_CURRENT_USER, kParent);
    RegDeleteKeyW(HKEY_CURRENT_USER, kParent);
    {
        UniqueHkey parent;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kParent, 0, nullptr, REG_OPTION_VOLATILE, KEY_WRITE, nullptr,
                                  parent.put(), nullptr),
                  ERROR_SUCCESS);
    }
    const int result = RunSettingsDialog([](HWND dialog) {
        UsePicker(dialog, [](HWND picker) { Click(picker, IDCANCEL); });
        SelectColor(dialog, Y);
        Click(dialog, IDOK);
    });
    EXPECT_EQ(result, 8);
    EXPECT_FALSE(SettingsKeyExists());
    RegDeleteTreeW(HKEY_CURRENT_USER, kParent);
    RegDeleteKeyW(HKEY_CURRENT_USER, kParent);
}

TEST_F(ConfigDialogTest, AboutBoxShowsTheAboutTextUnderTheFileName) {
    const std::wstring about = std::wstring(kPluginName) + L" (PNG) v1.1.2  written by Tessalind";
    const int result = RunConfiguration(0, [&](HWND box) {
        EXPECT_EQ(Text(box), kPluginName);
        bool textFound = false;
        for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            textFound = textFound || Text(child) == about;
        EXPECT_TRUE(textFound) << "about text not shown";
        EXPECT_EQ(Item(box, IDCANCEL), nullptr) << "more than an OK button";
        Click(box, IDOK);
    });
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(SettingsKeyExists());
}

TEST(ConfigurationDlg, OtherFunctionNumbersShowNothing) {
    for (const int function : {2, -1, 3, 100, INT_MIN, INT_MAX}) {
        EXPECT_EQ(Plugin().ConfigurationDlg(nullptr, function), -1) << function;
        EXPECT_EQ(FindDialog(GetCurrentThreadId(), nullptr), nullptr) << function;
    }
}

}  // namespace
