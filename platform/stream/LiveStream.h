// Live output of the program feed: H.264 + AAC to an RTMP, RTMPS or SRT server,
// or raw video (no sound) to a v4l2loopback device (the virtual camera), through
// FFmpeg.
//
// The caller hands in finished BGRA pictures whenever it has one; the stream
// owns the clock. Every output frame slot (1 / fps of wall-clock time since the
// start) takes the newest picture handed in; a slot without a new picture
// repeats the last one, and pictures handed in faster than the slots are
// dropped. Time stamps therefore follow the wall clock and never drift.
//
// The pictures and sound are encoded once; each destination (up to kMaxStreamDestinations) takes
// the same packets over its own connection, with its own queue, reconnection and status, so one
// that fails or stalls never holds up the others.
//
// A server that stops taking data shows as stalled within a few seconds; a write
// it leaves unanswered for 5 s ends the connection. A lost connection is retried
// every second for five attempts, then with growing pauses (2, 4 ... 30 s), while
// pictures keep being accepted; so is a first connection the server refuses or leaves
// unanswered (a server not up yet). The pictures start as soon as one server has
// answered: none still connecting holds up the others. No
// secret of the address (key, password, passphrase, tokens) is ever written to
// any log, message or status.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/media/EncoderChoice.h"
#include "platform/stream/StreamLimits.h"

namespace vantry::platform {

class ProgrammeSound;

class LiveStreamError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// An address that cannot be right whatever the server does: an unknown scheme, no server
// name, a bad port, no application path, spaces. The user's typing is what needs mending.
class LiveStreamAddressError : public LiveStreamError {
  public:
    using LiveStreamError::LiveStreamError;
};

// A further server the same stream goes to.
struct LiveStreamDestination {
    std::string url;        // as LiveStreamSettings::url; no device
    std::string streamKey;  // as LiveStreamSettings::streamKey
};

struct LiveStreamSettings {
    // "rtmp://host[:port]/app", "rtmps://...", "srt://host:port[?options]", or a
    // v4l2loopback device path such as "/dev/video10".
    std::string url;
    // Appended to an RTMP(S) URL as its last path part ("/" added between when
    // needed); for SRT it becomes the "streamid" option. Never logged.
    std::string streamKey;
    int width = 1280;
    int height = 720;
    int fps = 30;
    // kMinVideoBitRate to kMaxVideoBitRate.
    std::int64_t videoBitRate = 4'500'000;
    std::int64_t audioBitRate = 128'000;
    // Seconds between key frames.
    double keyFrameSeconds = 2.0;
    // Sound: the programme mix (`sound`, or when none is given one of the stream's own with the
    // default input and the desktop's sound through PulseAudio), silence where there is none.
    // Off: always silence.
    bool captureMicrophone = true;
    std::shared_ptr<ProgrammeSound> sound;
    // H.264 encoder (not used for a virtual camera, which takes raw pictures).
    media::H264Choice encoder = media::H264Choice::automatic;
    // Servers that take the same stream besides `url`, each over its own connection.
    std::vector<LiveStreamDestination> moreDestinations;
};

enum class LiveStreamState {
    connecting,    // opening the first connection, or waiting to try it again (retryInSeconds)
    live,          // frames are going out and the server takes them
    stalled,       // connected, but the server has taken nothing for a while
    reconnecting,  // the connection was lost; waiting to try again
    ended,         // stop() was called (or the device went away)
    failed,        // a fault that retrying cannot mend (a refused SRT passphrase, no such device)
};

// How one destination fares.
struct LiveStreamDestinationStatus {
    std::string shownAddress;  // the address without its secrets
    LiveStreamState state = LiveStreamState::connecting;
    double measuredBitRate = 0;
    std::int64_t bytesDelivered = 0;
    double secondsWithoutDelivery = 0;
    int reconnectAttempt = 0;
    double retryInSeconds = 0;
    std::string message;
    // Packets left out while connected because the server fell too far behind.
    std::int64_t packetsDropped = 0;
};

// The stream as a whole. With one destination its connection fields are that destination's;
// with several, the state is the best any destination is in (live before stalled, reconnecting,
// connecting, ended, failed), the rate and bytes are their sums, and the message joins theirs.
struct LiveStreamStatus {
    LiveStreamState state = LiveStreamState::connecting;
    double elapsedSeconds = 0;        // wall-clock time since the stream went live first
    double measuredBitRate = 0;       // bits per second the server took over the last few seconds
    std::int64_t framesSent = 0;      // output frames encoded and sent (distinct + repeated)
    std::int64_t framesRepeated = 0;  // slots that reused the previous picture
    std::int64_t framesDropped = 0;   // pictures handed in while live that no slot used
    int reconnectAttempt = 0;         // 0 while connected
    double retryInSeconds = 0;        // while reconnecting (or connecting again): time until the next try
    // Readable line for the failed / reconnecting states (and `ended` when a virtual
    // camera went away), e.g. "Could not connect to rtmp://host/live: Connection refused".
    std::string message;
    std::int64_t framesSkipped = 0;  // slots left out because encoding fell behind the clock
    // Bytes the server took, over all connections: written out, not merely queued.
    std::int64_t bytesDelivered = 0;
    // Time since the server last took any bytes (0 while it takes them, from the start while
    // it never did).
    double secondsWithoutDelivery = 0;
    // Each destination, `url` first, in the order given.
    std::vector<LiveStreamDestinationStatus> destinations;
};

// "rtmp", "rtmps", "srt" or "v4l2" for a URL the stream can take; throws
// LiveStreamError with a readable message otherwise (LiveStreamAddressError for an
// unknown scheme, a missing host and the like; LiveStreamError for a device that is
// not a v4l2loopback one).
std::string liveStreamKind(const std::string& url);

// The v4l2loopback devices of this machine ("/dev/videoN" whose driver is
// v4l2loopback), in device-number order.
std::vector<std::string> virtualCameraDevices();
// The same, read from another sysfs tree (tests): "<sysfsRoot>/class/video4linux/videoN".
std::vector<std::string> virtualCameraDevices(const std::string& sysfsRoot);

// How a stream reaches its server: what FFmpeg opens (with the key) and what is shown
// (without the key, user name, password or query).
struct LiveStreamTarget {
    std::string kind;          // as liveStreamKind()
    std::string address;       // rtmp(s): URL + "/" + key; srt: the URL; v4l2: the device
    std::string shownAddress;  // safe for messages, logs and the window
    std::string srtStreamId;   // srt: the key, passed as the "streamid" option
};
// Throws LiveStreamError as liveStreamKind() (LiveStreamAddressError for a malformed
// address), its message free of the address's secrets.
LiveStreamTarget liveStreamTarget(const std::string& url, const std::string& streamKey);

// Whether an rtmp:// or rtmps:// address carries its key as its last path part, after the
// application ("rtmp://host/app/KEY"), so that it needs no key given apart.
bool streamAddressCarriesKey(const std::string& url);

// Why the "passphrase" option of an srt:// address is one SRT cannot take (fewer than
// kMinSrtPassphrase or more than kMaxSrtPassphrase characters), naming no secret; empty when it
// can (or the address sets none, or is no srt:// one). A LiveStream refuses such an address
// (LiveStreamAddressError).
std::string srtPassphraseFault(const std::string& url);

// `text` with every occurrence of `streamKey` replaced by "****".
std::string redactStreamKey(std::string text, const std::string& streamKey);

// Where the secrets of a stream address stand in it, as (offset, length) in order: user name
// and password, the key as its last path part (an RTMP URL without a separate key), the values
// of an RTMP URL's query and of an SRT URL's "passphrase" and "streamid". Takes any text.
std::vector<std::pair<std::size_t, std::size_t>> streamAddressSecretParts(const std::string& url,
                                                                          const std::string& streamKey);
// `url` with each of its secret parts replaced where it stands, the rest as it is: by `mask`
// once, or (eachCharacter) by `mask` for each of its characters, as a password field shows it.
std::string maskStreamAddress(const std::string& url, const std::string& streamKey,
                              const std::string& mask = "****", bool eachCharacter = false);

// Every secret part of a stream address: the key (given, or for an RTMP URL without one its
// last path part after the application), user name and password, the values of an RTMP
// URL's query, an SRT URL's "passphrase" and "streamid"; each also percent-decoded. Takes
// any text, checked or not.
std::vector<std::string> liveStreamSecrets(const std::string& url, const std::string& streamKey);
// `text` with each secret replaced by "****" where it stands on its own, never inside a longer
// word (media::blankSecrets).
std::string redactStreamSecrets(std::string text, std::vector<std::string> secrets);

// Text for the window and the command line when no virtual camera exists.
extern const char* const kVirtualCameraHint;

class LiveStream {
  public:
    using StatusCallback = std::function<void(const LiveStreamStatus&)>;

    // Checks the settings and starts the sending thread; the first connection
    // is made on that thread. `onStatus` is called from that thread about once
    // a second and on every state change; it must not call back into the stream.
    // Throws LiveStreamError for settings or a URL that cannot work.
    LiveStream(LiveStreamSettings settings, StatusCallback onStatus);
    ~LiveStream();  // stop()

    LiveStream(const LiveStream&) = delete;
    LiveStream& operator=(const LiveStream&) = delete;

    // Any thread: offers the newest picture (BGRA, rows top to bottom, at the
    // stream's size). Copies it and returns at once.
    void offerBGRA(const std::uint8_t* pixels, std::ptrdiff_t stride);

    // Ends the stream: sends what is encoded, closes the connection and joins
    // the thread. Safe to call more than once.
    void stop();

    LiveStreamStatus status() const;
    const LiveStreamSettings& settings() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vantry::platform
