#include "app/remote/ShotsModelRemote.h"

#include <QJsonDocument>

#include "app/remote/RemoteControl.h"
#include "app/shots/ShotsModel.h"

namespace vantry::remote {

int ShotsModelRemote::shotCount() const {
    return model_.count();
}

std::string ShotsModelRemote::shotJson(int index) const {
    return QJsonDocument(model_.shotJson(index)).toJson(QJsonDocument::Compact).toStdString();
}

bool ShotsModelRemote::recallShot(int index, std::string* error) {
    // Recalled, or recalled but for what could not be applied (said in `why`), or not at all.
    QString why;
    const bool recalled = model_.recall(index, &why, true);
    if (error) *error = why.toStdString();
    return recalled;
}

void ShotsModelRemote::forwardChanges(RemoteControl& control) {
    QObject::connect(&model_, &app::shots::ShotsModel::shotsChanged, &control, &RemoteControl::shotsChanged);
    QObject::connect(&model_, &app::shots::ShotsModel::shotRecalled, &control,
                     [&control](int index, const QString&) { control.shotRecalled(index); });
}

}  // namespace vantry::remote
