#include "mqtt/ui/TfMqtt.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QPushButton>
#include <exception>

#include "ui_TfMqtt.h"
#include "util/TdmUtil.h"
#include "util/qt/QtText.h"

namespace pom {

TfMqtt::TfMqtt(TdmUtil& util, QWidget* parent)
    : QDialog(parent), util_(util), ui_(std::make_unique<Ui::TfMqtt>()) {
    ui_->setupUi(this);
    ui_->buttons->button(QDialogButtonBox::Ok)->setText("OK");
    ui_->buttons->button(QDialogButtonBox::Cancel)->setText("Anuluj");
    ui_->labBlad->setVisible(false);
    connect(ui_->butPlikCA, &QPushButton::clicked, this, [this] { BrowseCaFile(); });
    connect(ui_->cbTLS, &QCheckBox::toggled, this, [this] { ShowTlsState(); });
}

TfMqtt::~TfMqtt() = default;

bool TfMqtt::Execute() {
    SetForm(mqtt::ToForm(mqtt::ReadMqttSettings(util_)));
    return exec() == QDialog::Accepted;
}

void TfMqtt::SetForm(const mqtt::MqttForm& f) {
    ui_->cbWlacz->setChecked(f.enabled);
    ui_->edHost->setText(Q(f.host));
    ui_->edPort->setText(Q(f.port));
    ui_->edUzytkownik->setText(Q(f.user));
    ui_->edHaslo->setText(Q(f.password));
    ui_->cbTLS->setChecked(f.tls);
    ui_->edPlikCA->setText(Q(f.caFile));
    ui_->edTemat->setText(Q(f.baseTopic));
    ui_->edPrefiks->setText(Q(f.discoveryPrefix));
    ui_->cbMQTT5->setChecked(f.mqtt5);
    ui_->labBlad->clear();
    ui_->labBlad->setVisible(false);
    ShowTlsState();
}

mqtt::MqttForm TfMqtt::Form() const {
    mqtt::MqttForm f;
    f.enabled = ui_->cbWlacz->isChecked();
    f.host = S(ui_->edHost->text());
    f.port = S(ui_->edPort->text());
    f.user = S(ui_->edUzytkownik->text());
    f.password = S(ui_->edHaslo->text());
    f.tls = ui_->cbTLS->isChecked();
    f.caFile = S(ui_->edPlikCA->text());
    f.baseTopic = S(ui_->edTemat->text());
    f.discoveryPrefix = S(ui_->edPrefiks->text());
    f.mqtt5 = ui_->cbMQTT5->isChecked();
    return f;
}

std::string TfMqtt::Problem() const {
    return S(ui_->labBlad->text());
}

void TfMqtt::accept() {
    mqtt::MqttSettings s;
    std::string problem;
    if (mqtt::FromForm(Form(), &s, &problem)) {
        try {
            mqtt::WriteMqttSettings(util_, s);
            ui_->labBlad->clear();
            ui_->labBlad->setVisible(false);
            QDialog::accept();
            return;
        } catch (const std::exception& e) {
            problem = e.what();
        }
    }
    // Stays open with what was typed, so it can be put right.
    ui_->labBlad->setText(Q(problem));
    ui_->labBlad->setVisible(true);
}

void TfMqtt::BrowseCaFile() {
    const std::string current = S(ui_->edPlikCA->text());
    if (chooseFile) {
        if (const auto picked = chooseFile(current)) ui_->edPlikCA->setText(Q(*picked));
        return;
    }
    const QString chosen =
        QFileDialog::getOpenFileName(this, QString::fromUtf8("plik CA"), Q(current),
                                     QString::fromUtf8("certyfikaty (*.crt *.pem);;wszystkie (*)"));
    if (!chosen.isEmpty())
        ui_->edPlikCA->setText(Q(PathToText(QFile::encodeName(chosen).toStdString())));
}

void TfMqtt::ShowTlsState() {
    const bool tls = ui_->cbTLS->isChecked();
    ui_->edPlikCA->setEnabled(tls);
    ui_->butPlikCA->setEnabled(tls);
}

}  // namespace pom
