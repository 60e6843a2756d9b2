// What the remote control needs of the studio's saved shots. The shots model implements it (or an
// adapter over it does); the server never sees the model itself.
#pragma once

#include <string>

namespace vantry::remote {

class RemoteShots {
  public:
    virtual ~RemoteShots() = default;

    virtual int shotCount() const = 0;
    // Shot `index` (0-based, below shotCount()) as the text of one JSON object, for example
    // {"name":"Intro","set":"manhattan-loft","angle":0,"transition":"cut"}: whatever describes the
    // shot; the server puts the text into its messages as it is, without reading it again.
    virtual std::string shotJson(int index) const = 0;
    // Recalls shot `index` as the window does (cut or move). False with `error` set when it
    // cannot be recalled; true with `error` saying what did not apply when it was recalled only in
    // part (its wall picture did not load), true with `error` empty when all of it applied.
    virtual bool recallShot(int index, std::string* error) = 0;
};

}  // namespace vantry::remote
