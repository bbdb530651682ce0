#pragma once

#include <QDialog>
#include <memory>
#include <string>

#include "web/HostHistory.h"

namespace Ui {
class TfOKhostSQL;
}

namespace pom {

class TdmUtil;
class DialogPlacement;

// The upload target: the SQL table and the script address. The target in
// use is kept apart from the fields, so that what is typed counts only once
// OK confirms it, and the dialog always opens showing the target in use.
// Created at start-up, hidden between showings.
class TfOKhostSQL final : public QDialog {
    Q_OBJECT
public:
    explicit TfOKhostSQL(TdmUtil& util, QWidget* parent = nullptr);
    ~TfOKhostSQL() override;

    // Address history, table and address from the settings; placement.
    void FormCreate();
    // Placement and address history into the settings.
    void FormDestroy();
    // Shows the dialog with the target in use; OK makes the fields the
    // target in use and writes them to the settings, Cancel puts the fields
    // back as they were. True on OK.
    bool mHostConfigClick();
    // The address field lost the focus: its text joins the history.
    void cbWWWskryptuExit();

    // The target in use, as the sender reads it.
    std::string Table() const { return table_; }
    std::string Address() const { return address_; }
    // A new target in use (from the settings at station attach), shown in
    // the fields.
    void SetTable(const std::string& cp1250);
    void SetAddress(const std::string& cp1250);
    // What the fields hold now, typed or not.
    std::string TableText() const;
    std::string AddressText() const;
    const HostHistory& History() const { return history_; }

    // Tests close the modal dialog through these.
    QDialog& Dialog() { return *this; }
    void SetTableText(const QString& s);
    void SetAddressText(const QString& s);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowHistory();
    void ShowTarget();

    TdmUtil& util_;
    std::unique_ptr<Ui::TfOKhostSQL> ui_;
    HostHistory history_;
    std::string table_;
    std::string address_;
    DialogPlacement* placement_;
};

}  // namespace pom
