#include "app/shots/ShotsModel.h"

#include <algorithm>
#include <exception>

#include "app/shots/ShotCodec.h"
#include "app/shots/ShotStore.h"
#include "platform/files/SafeOutput.h"
#include "studio/gpu/StudioCamera.h"

namespace vantry::app::shots {
namespace {

constexpr int kMaxNameChars = 40;

QString qs(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// A shot name as typed: cleaned, trimmed, cut to kMaxNameChars.
QString typedName(const QString& name) {
    const std::string bytes = name.toStdString();
    return QString::fromStdString(cleanShotName(bytes)).trimmed().left(kMaxNameChars);
}

// "it is read-only" as "is read-only", to follow the file's name.
QString afterName(const std::string& why) {
    return qs(why.rfind("it ", 0) == 0 ? std::string_view(why).substr(3) : std::string_view(why));
}

QString label(int index, const Shot& shot) {
    return QStringLiteral("shot %1 \u201c%2\u201d").arg(index + 1).arg(qs(shot.name));
}

}  // namespace

ShotsModel::ShotsModel(Services services, QObject* parent)
    : QAbstractListModel(parent), services_(std::move(services)) {
    if (services_.file.empty()) return;
    LoadedShots loaded = loadShots(services_.file);
    shots_ = std::move(loaded.shots);
    blocked_ = loaded.blocked;
    stamp_ = loaded.stamp;
    notWritable_ = afterName(loaded.notWritable);
    if (loaded.keptAside) {
        loadReport_ = QStringLiteral("The shots file was damaged (%1): kept as %2, shots start empty")
                          .arg(qs(loaded.damage), qs(loaded.keptAside->string()));
    } else if (loaded.blocked) {
        loadReport_ = QStringLiteral("The shots file %1 cannot be used (%2): shots are not saved")
                          .arg(qs(services_.file.string()), qs(loaded.damage));
    } else if (!notWritable_.isEmpty()) {
        loadReport_ = QStringLiteral("The shots file %1 %2: shots are not saved")
                          .arg(qs(services_.file.string()), notWritable_);
    }
    notice_ = loadReport_;
}

QJsonObject ShotsModel::shotJson(int index) const {
    if (!valid(index)) return {};
    const Shot& shot = shots_[std::size_t(index)];
    return QJsonObject{{"index", index},
                       {"key", index + 1},
                       {"name", qs(shot.name)},
                       {"set", qs(shot.set.id())},
                       {"setTitle", qs(shot.set.title())},
                       {"angle", shot.angle.id()},
                       {"angleTitle", qs(shot.angle.title())},
                       {"transition", transitionName(shot.transition)},
                       {"moveSeconds", double(shot.moveSeconds)}};
}

QJsonArray ShotsModel::shotsJson() const {
    QJsonArray list;
    for (int i = 0; i < count(); ++i) list.append(shotJson(i));
    return list;
}

bool ShotsModel::recall(int index, QString* error, bool byRemote) {
    if (!valid(index)) {
        if (error) *error = QStringLiteral("There is no shot %1").arg(index + 1);
        return false;
    }
    const Shot shot = shots_[std::size_t(index)];
    recallingForRemote_ = byRemote;
    const std::string problem = services_.apply ? services_.apply(shot) : std::string();
    recallingForRemote_ = false;
    setLastRecalled(index);
    if (problem.empty()) {
        if (error) error->clear();
        emit message(QStringLiteral("Recalled %1").arg(label(index, shot)));
    } else {
        const QString text = QStringLiteral("Recalled %1, but %2").arg(label(index, shot), qs(problem));
        if (error) *error = text;
        emit message(text);
    }
    emit shotRecalled(index, qs(shot.name));
    return true;
}

bool ShotsModel::recallShot(int index) {
    QString error;
    const bool done = recall(index, &error);
    if (!done) emit message(error);
    return done;
}

bool ShotsModel::recallKey(int key) {
    return key >= 1 && key <= int(kMaxShots) && valid(key - 1) && recallShot(key - 1);
}

bool ShotsModel::saveCurrent(const QString& name) {
    if (full()) {
        emit message(QStringLiteral("All 9 shot keys are taken: delete a shot to save another"));
        return false;
    }
    Shot shot = services_.capture ? services_.capture() : Shot();
    const QString trimmed = typedName(name);
    shot.name = (trimmed.isEmpty() ? QStringLiteral("Shot %1").arg(count() + 1) : trimmed).toStdString();
    shot.moveSeconds = studio::camera::clampMoveDuration(shot.moveSeconds);
    const int row = count();
    beginInsertRows({}, row, row);
    shots_.push_back(std::move(shot));
    endInsertRows();
    emit countChanged();
    emit shotsChanged();
    setLastRecalled(row);
    emit message(QStringLiteral("Saved %1 on key %2").arg(label(row, shots_.back())).arg(row + 1));
    store();
    return true;
}

bool ShotsModel::rename(int index, const QString& name) {
    const QString trimmed = typedName(name);
    if (!valid(index) || trimmed.isEmpty()) return false;
    const std::string text = trimmed.toStdString();
    if (shots_[std::size_t(index)].name == text) return true;
    shots_[std::size_t(index)].name = text;
    changed(index, index);
    return true;
}

bool ShotsModel::moveShot(int from, int to) {
    if (!valid(from) || !valid(to)) return false;
    if (from == to) return true;
    // Qt counts the destination before the move: one past `to` when moving down.
    beginMoveRows({}, from, from, {}, to > from ? to + 1 : to);
    const auto begin = shots_.begin();
    if (from < to) {
        std::rotate(begin + from, begin + from + 1, begin + to + 1);
    } else {
        std::rotate(begin + to, begin + from, begin + from + 1);
    }
    endMoveRows();
    setLastRecalled(-1);
    emit shotsChanged();
    store();
    return true;
}

bool ShotsModel::removeShot(int index) {
    if (!valid(index)) return false;
    beginRemoveRows({}, index, index);
    shots_.erase(shots_.begin() + index);
    endRemoveRows();
    setLastRecalled(-1);
    emit countChanged();
    emit shotsChanged();
    store();
    return true;
}

bool ShotsModel::setTransition(int index, const QString& transition, double seconds) {
    if (!valid(index) || (transition != QLatin1String("cut") && transition != QLatin1String("move")))
        return false;
    Shot& shot = shots_[std::size_t(index)];
    const Transition kind = transition == QLatin1String("move") ? Transition::move : Transition::cut;
    const float duration = studio::camera::clampMoveDuration(float(seconds));
    if (shot.transition == kind && shot.moveSeconds == duration) return true;
    shot.transition = kind;
    shot.moveSeconds = duration;
    changed(index, index);
    return true;
}

void ShotsModel::changed(int first, int last) {
    emit dataChanged(index(first), index(last));
    emit shotsChanged();
    store();
}

void ShotsModel::setNotice(const QString& text) {
    if (text == notice_) return;
    notice_ = text;
    emit noticeChanged();
}

void ShotsModel::dismissNotice() {
    setNotice(QString());
}

void ShotsModel::setLastRecalled(int index) {
    if (index == lastRecalled_) return;
    lastRecalled_ = index;
    emit lastRecalledChanged();
}

void ShotsModel::store() {
    if (services_.file.empty()) return;
    if (blocked_) {
        emit message(
            QStringLiteral("Shots are not saved: %1 cannot be used").arg(qs(services_.file.string())));
        return;
    }
    if (!notWritable_.isEmpty()) {
        const QString text =
            QStringLiteral("Shots are not saved: %1 %2").arg(qs(services_.file.string()), notWritable_);
        emit message(text);
        setNotice(text);
        return;
    }
    try {
        stamp_ = saveShots(services_.file, shots_, stamp_);
    } catch (const ShotsSaveRefused& e) {
        // The file on disk stays as it is, and says so until the user acts.
        const QString text = QStringLiteral("Shots are not saved: %1 %2, so it is kept as it is")
                                 .arg(qs(services_.file.string()), afterName(e.what()));
        emit message(text);
        setNotice(text);
    } catch (const std::filesystem::filesystem_error& e) {
        emit message(QStringLiteral("Could not save the shots: ") + qs(platform::describeOutputError(e)));
    } catch (const std::exception& e) {
        emit message(QStringLiteral("Could not save the shots: ") + qs(e.what()));
    }
}

int ShotsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

QVariant ShotsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || !valid(index.row())) return {};
    const Shot& shot = shots_[std::size_t(index.row())];
    switch (role) {
        case Qt::DisplayRole:
        case NameRole:
            return qs(shot.name);
        case KeyRole:
            return index.row() + 1;
        case SetRole:
            return qs(shot.set.id());
        case SetTitleRole:
            return qs(shot.set.title());
        case AngleRole:
            return shot.angle.id();
        case AngleTitleRole:
            return qs(shot.angle.title());
        case TransitionRole:
            return QString::fromLatin1(transitionName(shot.transition));
        case MoveSecondsRole:
            return double(shot.moveSeconds);
        default:
            return {};
    }
}

QHash<int, QByteArray> ShotsModel::roleNames() const {
    return {{NameRole, "name"},
            {KeyRole, "key"},
            {SetRole, "set"},
            {SetTitleRole, "setTitle"},
            {AngleRole, "angle"},
            {AngleTitleRole, "angleTitle"},
            {TransitionRole, "transition"},
            {MoveSecondsRole, "moveSeconds"}};
}

}  // namespace vantry::app::shots
