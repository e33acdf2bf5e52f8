#pragma once
// The dialog in which the user types the old PIN and the new one twice.

#include <array>

#include "buffer/byte_buffer.h"
#include "core/outcome.h"
#include "res/resource.h"
#include "ui/framework/dialog.h"

class CChangePinDlg : public CDialog {
public:
    explicit CChangePinDlg(CWnd* parent = nullptr);

    CByteBuffer m_certificate;  // a copy of the soft certificate's bytes
    CByteBuffer m_path;         // a copy of the target path, zero-terminated
    CString m_newPin;
    CString m_newPinRepeat;
    CString m_oldPin;
    // How the last change tried ended, for the window that opened the dialog.
    Outcome m_outcome = Outcome::Accepted;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    bool OnCommand(UINT code, int id) override;

    void OnChangePin();

private:
    static const std::array<MessageMapEntry<CChangePinDlg>, 1> kMessageMap;
};
