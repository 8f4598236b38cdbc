// The about box and the settings dialog: initialisation from the settings key, the mode
// choice, the colour picker, the colour history swatches, and saving on OK.
#include "settings/ConfigDialog.h"

#include "plugin/HostRecords.h"
#include "plugin/Owners.h"
#include "plugin/PluginInfo.h"
#include "resources/ConfigDialogIds.h"
#include "settings/ConfigDialogState.h"
#include "settings/SettingsStore.h"

#include <commdlg.h>

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <vector>

namespace {

static_assert(sizeof(COLORREF) == sizeof(ColorRef));
constexpr int kHistorySlots = IDC_HISTORY_LAST - IDC_HISTORY_FIRST + 1;
static_assert(kHistorySlots == std::tuple_size_v<decltype(ConfigDialogState::history)>);

// The dialog's state lives in the window's user-data slot from initialisation to destruction.
ConfigDialogState* AttachedState(HWND dialog) {
    return reinterpret_cast<ConfigDialogState*>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
}

// The colour button and the history swatches only mean something while compositing.
void EnableColorControls(HWND dialog, bool enabled) {
    EnableWindow(GetDlgItem(dialog, IDC_CHOOSE_COLOR), enabled);
    for (int id = IDC_HISTORY_FIRST; id <= IDC_HISTORY_LAST; ++id) EnableWindow(GetDlgItem(dialog, id), enabled);
}

void RepaintSwatches(HWND dialog) {
    InvalidateRect(GetDlgItem(dialog, IDC_CURRENT_COLOR), nullptr, FALSE);
    for (int id = IDC_HISTORY_FIRST; id <= IDC_HISTORY_LAST; ++id)
        InvalidateRect(GetDlgItem(dialog, id), nullptr, FALSE);
}

INT_PTR Initialise(HWND dialog) {
    // Attached first: the WM_COMMAND sent below is ignored while no state is attached.
    auto owned = std::make_unique<ConfigDialogState>();
    SetWindowLongPtrW(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(owned.get()));
    ConfigDialogState& state = *owned.release();  // freed at WM_DESTROY

    int chosen = IDC_COMPOSITE;
    {
        const RegistryKey key = RegistryKey::OpenForRead(state.keyPath.c_str());
        std::vector<uint8_t> bytes;
        if (key.ReadBinary(L"ColorHistory", bytes)) FillColorList(bytes, state.history);
        if (!key.ReadDword(L"Color", state.currentColor)) state.currentColor = 0xFFFFFF;
        uint32_t mode = 0;
        if (key.ReadDword(L"Alpha", mode) && mode == kAlphaRemove) chosen = IDC_REMOVE_ALPHA;
    }
    CheckRadioButton(dialog, IDC_REMOVE_ALPHA, IDC_COMPOSITE, chosen);
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(chosen, 0), 0);
    // The Exif choice has no setting behind it.
    ShowWindow(GetDlgItem(dialog, IDC_USE_EXIF), SW_HIDE);
    SetWindowTextW(dialog, kPluginFileName);
    return TRUE;  // the platform sets the default focus
}

void Destroy(HWND dialog, ConfigDialogState* state) {
    std::unique_ptr<ConfigDialogState> owned(state);
    SetWindowLongPtrW(dialog, GWLP_USERDATA, 0);
}

// The custom colours exist only around the picker: loaded before it opens and saved after it
// closes, confirmed or cancelled, since the user may have edited them either way.
void ChooseColorWithPicker(HWND dialog, const ConfigDialogState& state) {
    std::array<ColorRef, 16> stored = PluginSettings{}.customColors;
    {
        const RegistryKey key = RegistryKey::OpenForRead(state.keyPath.c_str());
        std::vector<uint8_t> bytes;
        if (key.ReadBinary(L"CustomColors", bytes)) FillColorList(bytes, stored);
    }
    std::array<COLORREF, 16> custom{};
    std::copy(stored.begin(), stored.end(), custom.begin());

    CHOOSECOLORW choose{};
    choose.lStructSize = sizeof choose;
    choose.hwndOwner = dialog;
    choose.rgbResult = state.currentColor;
    choose.lpCustColors = custom.data();
    choose.Flags = CC_RGBINIT;
    if (ChooseColorW(&choose)) SendMessageW(dialog, SelectColorMessage, choose.rgbResult, 0);

    const RegistryKey key = RegistryKey::OpenForWrite(state.keyPath.c_str());
    if (key) key.WriteBinary(L"CustomColors", custom.data(), sizeof custom);
}

// OK: all three values, changed or not. A key that cannot be opened ends the dialog with -1.
INT_PTR Confirm(HWND dialog, const ConfigDialogState& state) {
    {
        const RegistryKey key = RegistryKey::OpenForWrite(state.keyPath.c_str());
        if (!key) {
            EndDialog(dialog, -1);
            return FALSE;
        }
        key.WriteBinary(L"ColorHistory", state.history.data(), sizeof state.history);
        key.WriteDword(L"Color", state.currentColor);
        key.WriteDword(L"Alpha", IsDlgButtonChecked(dialog, IDC_REMOVE_ALPHA) ? kAlphaRemove : kAlphaComposite);
    }
    EndDialog(dialog, IDOK);
    return TRUE;
}

INT_PTR OnCommand(HWND dialog, const ConfigDialogState& state, WPARAM wParam) {
    if (HIWORD(wParam) != 0) return FALSE;
    const int id = LOWORD(wParam);
    switch (id) {
    case IDOK:
        return Confirm(dialog, state);
    case IDCANCEL:
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    case IDC_REMOVE_ALPHA:
    case IDC_COMPOSITE:
        EnableColorControls(dialog, id == IDC_COMPOSITE);
        return FALSE;
    case IDC_CHOOSE_COLOR:
        ChooseColorWithPicker(dialog, state);
        return TRUE;
    default:
        break;
    }
    if (id < IDC_HISTORY_FIRST || id > IDC_HISTORY_LAST) return FALSE;
    SendMessageW(dialog, SelectColorMessage, state.history[id - IDC_HISTORY_FIRST], 0);
    return TRUE;
}

std::optional<ColorRef> SwatchColor(const ConfigDialogState& state, UINT id) {
    if (id == IDC_CURRENT_COLOR) return state.currentColor;
    if (id >= IDC_HISTORY_FIRST && id <= IDC_HISTORY_LAST) return state.history[id - IDC_HISTORY_FIRST];
    return std::nullopt;
}

// A filled rectangle framed in the button shadow colour, plus a dotted outline when focused.
// Looks the same enabled or disabled; the control's text is never drawn.
void DrawSwatch(const ConfigDialogState& state, const DRAWITEMSTRUCT& item) {
    HDC dc = item.hDC;
    const RECT& r = item.rcItem;
    UniqueGdiObject brush;
    if (const auto color = SwatchColor(state, item.CtlID)) brush.reset(CreateSolidBrush(*color));
    if (brush) {
        UniqueGdiObject pen(CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNSHADOW)));
        const SelectedObject penSelection(dc, pen.get());
        const SelectedObject brushSelection(dc, brush.get());
        Rectangle(dc, r.left, r.top, r.right, r.bottom);
    }
    if (item.itemState & ODS_FOCUS) {
        UniqueGdiObject pen(CreatePen(PS_DOT, 1, GetSysColor(COLOR_BTNTEXT)));
        const SelectedObject penSelection(dc, pen.get());
        MoveToEx(dc, r.left + 3, r.top + 3, nullptr);
        LineTo(dc, r.right - 4, r.top + 3);
        LineTo(dc, r.right - 4, r.bottom - 4);
        LineTo(dc, r.left + 3, r.bottom - 4);
        LineTo(dc, r.left + 3, r.top + 3);
    }
}

INT_PTR HandleMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    ConfigDialogState* state = AttachedState(dialog);
    if (!state) return message == WM_INITDIALOG ? Initialise(dialog) : FALSE;
    switch (message) {
    case WM_DESTROY:
        Destroy(dialog, state);
        return FALSE;
    case WM_DRAWITEM:
        if (!lParam) return FALSE;
        DrawSwatch(*state, *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_COMMAND:
        return OnCommand(dialog, *state, wParam);
    case SelectColorMessage:
        if (SelectColor(*state, static_cast<ColorRef>(wParam))) RepaintSwatches(dialog);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

INT_PTR CALLBACK ConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    // No exception may unwind into the window manager. A dialog that cannot set itself up ends
    // with -1; anything thrown later leaves the message unhandled.
    try {
        return HandleMessage(dialog, message, wParam, lParam);
    } catch (...) {
        if (message == WM_INITDIALOG) EndDialog(dialog, -1);
        return FALSE;
    }
}

int ShowAboutBox(HWND parent) {
    return MessageBoxW(parent, kAboutText, kPluginFileName, MB_OK) == 0 ? InternalError : Success;
}

int RunConfigurationDialog(HINSTANCE instance, HWND parent) {
    const INT_PTR result = DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_CONFIG), parent, ConfigDialogProc, 0);
    return result == -1 ? InternalError : Success;
}
