// A slide deck for the LED wall: the pages of a PDF file, rendered with Qt's PDF module at the
// wall's live size (the page fitted inside, the rest black). A worker thread renders the page
// asked for and then its neighbours, so that stepping to the next or the previous page finds it
// ready.
#pragma once

#include <QImage>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class QPdfDocument;
class QBuffer;
class QByteArray;

namespace vantry::platform::wall {

// What a deck accepts: the wall picture loader's limits. A file over kDeckMaxFileBytes is not
// read; a page whose size in points (1/72 inch) holds more than kDeckMaxPagePoints is refused.
inline constexpr std::int64_t kDeckMaxFileBytes = std::int64_t(256) << 20;
inline constexpr std::int64_t kDeckMaxPagePoints = std::int64_t(8192) * 8192;

class PdfDeck {
  public:
    // A rendered page for show(): the page's index and its picture. On the thread that called
    // show() when the page was ready, otherwise on the deck's worker thread; never after the
    // destructor returned. It must not call back into the deck.
    using PageReady = std::function<void(int index, const QImage& picture)>;

    // Opens the PDF (read under the regular-file rules). Null, with a message to show the user
    // in `error`, when it cannot be read, is damaged, asks for a password, has no pages or a
    // page over the limits.
    static std::unique_ptr<PdfDeck> open(const std::filesystem::path& file, std::string& error);

    ~PdfDeck();
    PdfDeck(const PdfDeck&) = delete;
    PdfDeck& operator=(const PdfDeck&) = delete;

    int pageCount() const { return pageCount_; }
    const std::filesystem::path& file() const { return file_; }

    // Page `index` (0-based), kLivePictureWidth x kLivePictureHeight, premultiplied ARGB32;
    // a null picture for an index out of range. Renders on the calling thread unless the page
    // is ready.
    QImage page(int index);

    // Asks for page `index`: `ready` gets it (at once when it is ready), unless show() was
    // called again before it was rendered. The pages on either side are rendered next.
    void show(int index, PageReady ready);

    // Whether page `index` is rendered and kept (for tests of the look-ahead).
    bool isReady(int index) const;
    // Blocks until the worker has nothing left to render (for tests).
    void waitIdle();

  private:
    PdfDeck(std::filesystem::path file, std::unique_ptr<QByteArray> bytes, std::unique_ptr<QBuffer> buffer,
            std::unique_ptr<QPdfDocument> document, int pageCount);
    QImage render(int index);
    void work();
    void keepAround(int index);

    std::filesystem::path file_;
    std::unique_ptr<QByteArray> bytes_;
    std::unique_ptr<QBuffer> buffer_;
    std::unique_ptr<QPdfDocument> document_;
    int pageCount_ = 0;

    std::mutex deliverMutex_;  // one delivery at a time, in order of show() calls
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::map<int, QImage> cache_;
    int wanted_ = -1;  // the page show() asked for last
    PageReady ready_;
    bool delivered_ = true;  // wanted_ has gone to ready_
    bool busy_ = false;
    bool stop_ = false;
    std::thread worker_;
};

}  // namespace vantry::platform::wall
