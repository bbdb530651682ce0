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

// The upload target: the SQL table and the script address. Its two fields
// are also the live configuration the sender reads when it builds a job.
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
    // Fills the fields from the settings and shows the dialog; on OK writes
    // both fields to the settings. True on OK.
    bool mHostConfigClick();
    // The address field lost the focus: its text joins the history.
    void cbWWWskryptuExit();

    std::string Table() const;
    std::string Address() const;
    void SetTable(const std::string& cp1250);
    void SetAddress(const std::string& cp1250);
    const HostHistory& History() const { return history_; }

    // Tests close the modal dialog through these.
    QDialog& Dialog() { return *this; }
    void SetTableText(const QString& s);
    void SetAddressText(const QString& s);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowHistory();

    TdmUtil& util_;
    std::unique_ptr<Ui::TfOKhostSQL> ui_;
    HostHistory history_;
};

}  // namespace pom
