#pragma once
// The main window: the user chooses a soft certificate and starts the PIN change.

#include <array>

#include "buffer/byte_buffer.h"
#include "res/resource.h"
#include "ui/framework/dialog.h"

class CPinToolDlg : public CDialog {
public:
    explicit CPinToolDlg(CWnd* parent = nullptr);

    CString m_path;             // the accepted file, or empty
    CButton m_operation;        // "PIN ändern"
    HICON m_hIcon;              // the application icon
    CByteBuffer m_certificate;  // the accepted file's bytes, or empty

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    bool OnCommand(UINT code, int id) override;
    void OnPaint() override;
    HICON OnQueryDragIcon() override;

    void OnBrowse();
    void OnRun();

private:
    // Loads the file at m_path, or reports it and forgets it.
    void OpenChosenFile();

    static const std::array<MessageMapEntry<CPinToolDlg>, 2> kMessageMap;
};
