// The calibration dialog and the About box as the main window creates and
// shows them.
#include "app/ui/TMonitorT.h"
#include "dialogs/ui/TAboutBox.h"
#include "dialogs/ui/TfEDwsp.h"

namespace pom {

void TMonitorT::CreateDialogs() {
    aboutBox_ = new TAboutBox(options_.programPath, this);
    aboutBox_->FormCreate();
    edWspDialog_ = new TfEDwsp(util_, this);
    edWspDialog_->FormCreate();
}

void TMonitorT::mZakresClick(int channel) {
    edWspDialog_->Execute(channel);
}

void TMonitorT::mAboutClick() {
    aboutBox_->exec();
}

}  // namespace pom
