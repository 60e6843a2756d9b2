// The studio's shots as a list model for the window (and for anything else that lists and
// recalls them): save the current picture as a shot, recall, rename, reorder, delete. At most
// nine shots are kept; shot N (from 1) is on key N. Every change is written to the shots file
// at once. Main thread only.
#pragma once

#include <QAbstractListModel>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/shots/Shot.h"
#include "app/shots/ShotStore.h"

namespace vantry::app::shots {

class ShotsModel : public QAbstractListModel {
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    // Nine shots: saving another needs a delete first.
    Q_PROPERTY(bool full READ full NOTIFY countChanged)
    // The shot recalled last (-1: none since the list changed).
    Q_PROPERTY(int lastRecalled READ lastRecalled NOTIFY lastRecalledChanged)
    // What the user must know about the shots file (a damaged file set aside, a file that is
    // not saved over and why): shown until dismissed, never replaced by a passing message.
    Q_PROPERTY(QString notice READ notice NOTIFY noticeChanged)

  public:
    enum Role {
        NameRole = Qt::UserRole + 1,
        KeyRole,         // 1..9
        SetRole,         // set id
        SetTitleRole,    //
        AngleRole,       // 0..3
        AngleTitleRole,  //
        TransitionRole,  // "cut" or "move"
        MoveSecondsRole,
    };

    struct Services {
        // The picture as it is now (the name is the model's).
        std::function<Shot()> capture;
        // Puts a shot on screen, all of it that can be; returns what could not be applied
        // ("" when everything was).
        std::function<std::string(const Shot&)> apply;
        // Where the shots are kept; empty: nowhere (tests).
        std::filesystem::path file;
    };

    // Loads the file; a damaged one is moved aside and loadReport() says so.
    explicit ShotsModel(Services services, QObject* parent = nullptr);

    // What went wrong loading the file, for the window's status text; empty when nothing did.
    QString loadReport() const { return loadReport_; }
    QString notice() const { return notice_; }
    Q_INVOKABLE void dismissNotice();

    int count() const { return int(shots_.size()); }
    bool full() const { return shots_.size() >= kMaxShots; }
    int lastRecalled() const { return lastRecalled_; }
    const std::vector<Shot>& shots() const { return shots_; }

    // One shot as {"index": 0.., "key": 1..9, "name", "set", "setTitle", "angle", "angleTitle",
    // "transition": "cut"|"move", "moveSeconds"}; an empty object for an index out of range.
    Q_INVOKABLE QJsonObject shotJson(int index) const;
    // Every shot, in order.
    QJsonArray shotsJson() const;

    // Recalls shot `index` (from 0). False, with the reason in *error, when there is no such
    // shot. A part that cannot be applied (a wall image that is gone) is reported in *error and
    // through message(); the rest applies and the result is true.
    // `byRemote`: the remote control asked for it (recallingForRemote() says so meanwhile).
    bool recall(int index, QString* error, bool byRemote = false);
    // True while a shot is being put on screen for the remote control.
    bool recallingForRemote() const { return recallingForRemote_; }

    // The window's actions; each reports its outcome through message().
    Q_INVOKABLE bool recallShot(int index);
    // Key 1..9 recalls shot key - 1; other keys and keys without a shot do nothing.
    Q_INVOKABLE bool recallKey(int key);
    // Appends the current picture; an empty name becomes "Shot N". False when full.
    Q_INVOKABLE bool saveCurrent(const QString& name = QString());
    // Blank names are refused; names lose control characters and bidirectional marks
    // (cleanShotName), are trimmed and cut to 40 characters.
    Q_INVOKABLE bool rename(int index, const QString& name);
    // Moves a shot to position `to` (the others shift up or down).
    Q_INVOKABLE bool moveShot(int from, int to);
    Q_INVOKABLE bool removeShot(int index);
    // "cut" or "move" with the move's duration (clamped to 0.3..3 seconds).
    Q_INVOKABLE bool setTransition(int index, const QString& transition, double seconds);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

  signals:
    void countChanged();
    // Any change of the list: a shot saved, renamed, moved, deleted or its transition changed.
    void shotsChanged();
    // A shot was put on screen (by the window, a key or anyone else).
    void shotRecalled(int index, const QString& name);
    void lastRecalledChanged();
    void noticeChanged();
    // A line for the window's status text.
    void message(const QString& text);

  private:
    bool valid(int index) const { return index >= 0 && index < count(); }
    void store();
    void changed(int first, int last);
    void setLastRecalled(int index);
    void setNotice(const QString& text);

    Services services_;
    std::vector<Shot> shots_;
    QString loadReport_;
    bool blocked_ = false;
    bool recallingForRemote_ = false;
    QString notWritable_;                  // why the file is not saved over (read-only, a link); empty: it is
    std::optional<ShotsFileStamp> stamp_;  // the file as last read or written
    QString notice_;
    int lastRecalled_ = -1;
};

}  // namespace vantry::app::shots
