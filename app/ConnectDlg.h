#pragma once
// The Connect dialog (template 129): asks for the server's dotted address and
// a user name, or for the server role. The name box takes at most 486 bytes
// of the locale's encoding, so that every datagram about the user fits one
// receive. It opens no connection and owns only its widgets; the start-up
// reads the members below once it has ended.

#include <QDialog>

#include <cstdint>
#include <string>

class QLineEdit;

class CConnectDlg : public QDialog {
    Q_OBJECT
public:
    explicit CConnectDlg(QWidget* pParent = nullptr);

    std::string m_name;              // set by a validation pass whose address was accepted
    std::uint32_t m_serverAddr = 0;  // network byte order; set by every validation pass
    bool m_startServer = false;      // "&Start Server" ended the dialog

public slots:
    // "&OK" and Enter: check the address, then the name; end with OK only if
    // both are acceptable, otherwise say why and stay open.
    void OnOK();
    // "&Start Server": end with OK at once; neither box is read.
    void OnStartServer();

private:
    QLineEdit* m_pAddressBox = nullptr;
    QLineEdit* m_pNameBox = nullptr;
};
