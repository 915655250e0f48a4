#pragma once
// TDiAbout: the modal "O programu" dialog with the maker, the product name, the version, the
// copyright and a notice (the version values compiled into the program; an empty value leaves
// its label empty), the program's picture and the maker's web address, which opens in the
// system's browser. GUI thread only.

#include <QDialog>

class QLabel;
class QPushButton;

namespace sejfko {

struct TVersionValues {
    QString CompanyName;
    QString ProductName;
    QString FileVersion;
    QString LegalCopyright;
    QString Comments;
};

// The values of the built program.
TVersionValues ProgramVersionValues();

class TDiAbout : public QDialog {
    Q_OBJECT
public:
    explicit TDiAbout(QWidget* parent = nullptr);
    // Puts the values into their labels; a missing (empty) value leaves its label as it is.
    void Fill(const TVersionValues& values);

    QLabel* ImgAbout = nullptr;
    QLabel* LblFirm = nullptr;
    QLabel* LblProduct = nullptr;
    QLabel* LblVersion = nullptr;
    QLabel* LblCopyright = nullptr;
    QLabel* LblAddress = nullptr;
    QLabel* LblWarning = nullptr;
    QPushButton* BtnOk = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace sejfko
