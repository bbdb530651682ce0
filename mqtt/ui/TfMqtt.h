#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "mqtt/logic/MqttSettings.h"

namespace Ui {
class TfMqtt;
}

namespace pom {

class TdmUtil;

// "Edycja › MQTT": the [MQTT] settings of the attached station. OK saves
// them only when they can be used; otherwise the dialog stays open and says
// why, and nothing is written.
class TfMqtt final : public QDialog {
    Q_OBJECT
public:
    explicit TfMqtt(TdmUtil& util, QWidget* parent = nullptr);
    ~TfMqtt() override;

    // Shows the settings in use; true when OK saved new ones.
    bool Execute();

    void SetForm(const mqtt::MqttForm& form);
    mqtt::MqttForm Form() const;
    // Why the last OK was refused (Windows-1250); empty when it was not.
    std::string Problem() const;
    // Where the CA file's browse button asks (nothing = cancelled); unset:
    // Qt's file dialog.
    std::function<std::optional<std::string>(const std::string& current)> chooseFile;

    void accept() override;

private:
    void BrowseCaFile();
    void ShowTlsState();

    TdmUtil& util_;
    std::unique_ptr<Ui::TfMqtt> ui_;
};

}  // namespace pom
