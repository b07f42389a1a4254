#include "tray/connection_dialog.h"

#include <commctrl.h>

#include <exception>

#include "api/api_client.h"
#include "config/config.h"
#include "config/start_with_windows.h"
#include "support/logger.h"
#include "support/machine_name.h"
#include "support/text.h"
#include "sync/sync_engine.h"
#include "tally/tally_client.h"
#include "tray/connection_form.h"
#include "tray/dialog_window.h"
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

ConnectionDialog::ConnectionDialog(HINSTANCE instance, Config& config, SyncEngine& engine)
    : instance_(instance), config_(config), engine_(engine) {}

void ConnectionDialog::open(HICON icon) {
    // The dialog fills itself on WM_INITDIALOG.
    openDialog(dialog_, instance_, IDD_CONNECTION, procedure, this, icon);
}

void ConnectionDialog::refill() {
    if (dialog_) fill(dialog_.get());
}

void ConnectionDialog::close() {
    dialog_.reset();
}

bool ConnectionDialog::takesMessage(MSG& message) const {
    return passToDialog(dialog_, message);
}

INT_PTR CALLBACK ConnectionDialog::procedure(HWND dlg, UINT message, WPARAM wParam, LPARAM lParam) {
    ConnectionDialog* self = dialogOwner<ConnectionDialog>(dlg, message, lParam);
    return self ? self->handle(dlg, message, wParam) : FALSE;
}

INT_PTR ConnectionDialog::handle(HWND dlg, UINT message, WPARAM wParam) {
    switch (message) {
        case WM_INITDIALOG:
            fill(dlg);
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDOK:
                    if (save(dlg)) DestroyWindow(dlg);
                    return TRUE;
                case IDCANCEL:
                    DestroyWindow(dlg);
                    return TRUE;
                case IDC_PAIR:
                    pair(dlg);
                    return TRUE;
                case IDC_UNPAIR:
                    unpair(dlg);
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
            (void)dialog_.release();  // going already
            return TRUE;
        default:
            return FALSE;
    }
}

void ConnectionDialog::fill(HWND dlg) {
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

void ConnectionDialog::pair(HWND dlg) {
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
            if (!save(dlg)) return;
            Settings settings = config_.settings();
            settings.serverUrl = address;
            settings.token = result.token;
            settings.organisation = result.organisation;
            settings.company = result.companyName;
            config_.save(settings);
            if (!isStartWithWindowsEnabled()) setStartWithWindows(true);
            Logger::info(pairedLogLine(result.organisation));
            SetDlgItemTextW(dlg, IDC_PAIRING_CODE, L"");
            fill(dlg);
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

void ConnectionDialog::unpair(HWND dlg) {
    if (ask(dlg, kConfirmUnpair, MB_YESNO | MB_ICONQUESTION) != IDYES) return;
    config_.clearToken();
    Logger::info("Unpaired by the user");
    engine_.settingsChanged();
    fill(dlg);
}

bool ConnectionDialog::save(HWND dlg) {
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

void ConnectionDialog::testTally(HWND dlg) {
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
