#include "tray/tray_app.h"

#include <commctrl.h>

#include <exception>

#include "api/api_client.h"
#include "config/config.h"
#include "config/start_with_windows.h"
#include "support/logger.h"
#include "support/machine_name.h"
#include "support/text.h"
#include "tally/tally_client.h"
#include "tray/connection_form.h"
#include "tray/resource_ids.h"

namespace tsl {

namespace {

// The wait cursor while a network call blocks the dialog; the previous cursor comes back on
// every path out.
class WaitCursor {
  public:
    WaitCursor() : previous_(SetCursor(LoadCursorW(nullptr, IDC_WAIT))) {}
    ~WaitCursor() { SetCursor(previous_); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

  private:
    HCURSOR previous_;
};

int ask(HWND dlg, const char* text, UINT style) {
    return MessageBoxW(dlg, fromUtf8(text).c_str(), fromUtf8(kMessageBoxTitle).c_str(), style);
}

void setItemText(HWND dlg, int id, const std::string& text) {
    SetDlgItemTextW(dlg, id, fromUtf8(text).c_str());
}

std::string itemText(HWND dlg, int id) {
    return toUtf8(dialogItemText(dlg, id));
}

std::optional<unsigned> itemPort(HWND dlg) {
    BOOL translated = FALSE;
    const UINT port = GetDlgItemInt(dlg, IDC_TALLY_PORT, &translated, FALSE);
    return translated ? std::optional<unsigned>(port) : std::nullopt;
}

}  // namespace

std::wstring dialogItemText(HWND dlg, int id) {
    const int length = GetWindowTextLengthW(GetDlgItem(dlg, id));
    if (length <= 0) return std::wstring();
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const UINT copied = GetDlgItemTextW(dlg, id, text.data(), length + 1);
    text.resize(copied);
    return text;
}

INT_PTR TrayApp::connectionDialogProc(HWND dlg, UINT message, WPARAM wParam) {
    switch (message) {
        case WM_INITDIALOG:
            fillConnectionDialog(dlg);
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDOK:
                    if (saveConnectionSettings(dlg)) DestroyWindow(dlg);
                    return TRUE;
                case IDCANCEL:
                    DestroyWindow(dlg);
                    return TRUE;
                case IDC_PAIR:
                    pairFromDialog(dlg);
                    return TRUE;
                case IDC_UNPAIR:
                    unpairFromDialog(dlg);
                    return TRUE;
                case IDC_TEST_TALLY:
                    testTally(dlg);
                    return TRUE;
                default:
                    return FALSE;
            }
        case WM_CLOSE:
            DestroyWindow(dlg);
            return TRUE;
        case WM_DESTROY:
            connectionDialog_ = nullptr;
            return TRUE;
        default:
            return FALSE;
    }
}

void TrayApp::fillConnectionDialog(HWND dlg) {
    const Settings settings = config_.settings();
    setItemText(dlg, IDC_SERVER_ADDRESS, settings.serverUrl);
    setItemText(dlg, IDC_TALLY_HOST, settings.tallyHost);
    SetDlgItemInt(dlg, IDC_TALLY_PORT, static_cast<UINT>(settings.tallyPort), FALSE);
    SendDlgItemMessageW(dlg, IDC_PAIRING_CODE, EM_LIMITTEXT, 12, 0);
    SendDlgItemMessageW(dlg, IDC_PAIRING_CODE, EM_SETCUEBANNER, TRUE,
                        reinterpret_cast<LPARAM>(L"XXXX-XXXX"));
    // The organisation came from Tessaline; like every peer's text here it is shown escaped.
    setItemText(dlg, IDC_PAIRING_STATUS, escapeControls(pairingStatusLine(settings)));
    EnableWindow(GetDlgItem(dlg, IDC_UNPAIR), !settings.token.empty());
}

void TrayApp::pairFromDialog(HWND dlg) {
    const std::string address = normaliseServerUrl(itemText(dlg, IDC_SERVER_ADDRESS));
    const std::string code = trim(itemText(dlg, IDC_PAIRING_CODE));
    if (const auto problem = pairingInputProblem(address, code)) {
        ask(dlg, problem->c_str(), MB_ICONWARNING);
        return;
    }
    setItemText(dlg, IDC_PAIRING_STATUS, kPairingInProgress);
    std::string failure;
    try {
        PairingResult result;
        {
            WaitCursor wait;
            result = ApiClient(address, std::string()).pair(code, machineName());
            // The other fields are saved first; a refusal there drops the new token.
            if (!saveConnectionSettings(dlg)) return;
            Settings settings = config_.settings();
            settings.serverUrl = address;
            settings.token = result.token;
            settings.organisation = result.organisation;
            settings.company = result.companyName;
            config_.save(settings);
            if (!isStartWithWindowsEnabled()) setStartWithWindows(true);
            Logger::info(pairedLogLine(result.organisation));
            SetDlgItemTextW(dlg, IDC_PAIRING_CODE, L"");
            fillConnectionDialog(dlg);
            engine_.settingsChanged();
        }
        ask(dlg, pairedMessage(escapeControls(result.organisation)).c_str(), MB_ICONINFORMATION);
        return;
    } catch (const ApiError& e) {
        failure = e.message;
    } catch (const std::exception& e) {
        // Nothing may unwind through the dialog manager's frames.
        failure = e.what();
    }
    setItemText(dlg, IDC_PAIRING_STATUS, "Pairing failed: " + escapeControls(failure));
}

void TrayApp::unpairFromDialog(HWND dlg) {
    if (ask(dlg, kConfirmUnpair, MB_YESNO | MB_ICONQUESTION) != IDYES) return;
    config_.clearToken();
    Logger::info("Unpaired by the user");
    engine_.settingsChanged();
    fillConnectionDialog(dlg);
}

bool TrayApp::saveConnectionSettings(HWND dlg) {
    const Settings snapshot = config_.settings();
    ConnectionFields fields{normaliseServerUrl(itemText(dlg, IDC_SERVER_ADDRESS)),
                            trim(itemText(dlg, IDC_TALLY_HOST)), itemPort(dlg)};
    if (!isValidTallyPort(fields.port)) {
        ask(dlg, kEnterValidPort, MB_ICONWARNING);
        return false;
    }
    const bool disconnect = saveNeedsConfirmation(snapshot, fields.address);
    if (disconnect && ask(dlg, kConfirmAddressChange, MB_YESNO | MB_ICONQUESTION) != IDYES) {
        return false;
    }
    config_.save(applyConnectionFields(snapshot, fields, disconnect));
    engine_.settingsChanged();
    return true;
}

void TrayApp::testTally(HWND dlg) {
    const std::string host = trim(itemText(dlg, IDC_TALLY_HOST));
    const unsigned port = itemPort(dlg).value_or(9000);
    setItemText(dlg, IDC_TALLY_RESULT, kTallyCheckInProgress);
    TallyProbe probe;
    {
        WaitCursor wait;
        probe = TallyClient(host, static_cast<int>(port)).probe();
    }
    setItemText(dlg, IDC_TALLY_RESULT, escapeControls(tallyTestText(probe, port)));
}

}  // namespace tsl
