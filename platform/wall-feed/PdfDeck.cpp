#include "platform/wall-feed/PdfDeck.h"

#include <QBuffer>
#include <QByteArray>
#include <QPdfDocument>
#include <QSizeF>
#include <algorithm>
#include <cmath>

#include "platform/files/RegularFile.h"
#include "platform/wall-feed/WallFeed.h"

namespace vantry::platform::wall {
namespace {

// The PDF library keeps state shared by all documents: every call into it, from any deck and
// any thread, holds this lock.
std::mutex& pdfLibraryMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

std::unique_ptr<PdfDeck> PdfDeck::open(const std::filesystem::path& file, std::string& error) {
    const std::string name = file.filename().string();
    const FileContents contents = readRegularFile(file, std::uintmax_t(kDeckMaxFileBytes));
    if (!contents.ok()) {
        error = "Could not open " + name + ": " + contents.error + ".";
        return nullptr;
    }
    auto bytes = std::make_unique<QByteArray>(contents.bytes.data(), qsizetype(contents.bytes.size()));
    auto buffer = std::make_unique<QBuffer>(bytes.get());
    if (!buffer->open(QIODevice::ReadOnly)) {
        error = "Could not open " + name + ".";
        return nullptr;
    }
    // Declared before the document: a refused document is closed under the lock as well.
    std::unique_lock library(pdfLibraryMutex());
    auto document = std::make_unique<QPdfDocument>();
    document->load(buffer.get());
    if (document->status() != QPdfDocument::Status::Ready) {
        const QPdfDocument::Error why = document->error();
        if (why == QPdfDocument::Error::IncorrectPassword ||
            why == QPdfDocument::Error::UnsupportedSecurityScheme) {
            error = name + " is protected by a password; the wall shows unprotected PDF files only.";
        } else {
            error = name + " is not a readable PDF file (it may be damaged).";
        }
        return nullptr;
    }
    const int count = document->pageCount();
    if (count <= 0) {
        error = name + " has no pages.";
        return nullptr;
    }
    for (int i = 0; i < count; ++i) {
        const QSizeF size = document->pagePointSize(i);
        const bool usable = size.width() >= 1 && size.height() >= 1 &&
                            size.width() * size.height() <= double(kDeckMaxPagePoints);
        if (!usable) {
            error = "Page " + std::to_string(i + 1) + " of " + name + " is too large for the wall.";
            return nullptr;
        }
    }
    library.unlock();
    return std::unique_ptr<PdfDeck>(
        new PdfDeck(file, std::move(bytes), std::move(buffer), std::move(document), count));
}

PdfDeck::PdfDeck(std::filesystem::path file, std::unique_ptr<QByteArray> bytes,
                 std::unique_ptr<QBuffer> buffer, std::unique_ptr<QPdfDocument> document, int pageCount)
    : file_(std::move(file)),
      bytes_(std::move(bytes)),
      buffer_(std::move(buffer)),
      document_(std::move(document)),
      pageCount_(pageCount) {
    worker_ = std::thread([this] { work(); });
}

PdfDeck::~PdfDeck() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    worker_.join();
    std::lock_guard library(pdfLibraryMutex());
    document_.reset();
}

QImage PdfDeck::render(int index) {
    QImage canvas(kLivePictureWidth, kLivePictureHeight, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::black);
    QImage rendered;
    QSizeF points;
    {
        std::lock_guard library(pdfLibraryMutex());
        points = document_->pagePointSize(index);
        if (points.width() < 1 || points.height() < 1) return canvas;
        const double scale = std::min(double(kLivePictureWidth) / points.width(),
                                      double(kLivePictureHeight) / points.height());
        const QSize size(std::clamp(int(std::lround(points.width() * scale)), 1, kLivePictureWidth),
                         std::clamp(int(std::lround(points.height() * scale)), 1, kLivePictureHeight));
        rendered = document_->render(index, size);
    }
    if (rendered.isNull()) return canvas;
    // The page is paper: what the page leaves transparent is white, around it the wall is black.
    // Composed by hand: Qt's painter and conversions spread large pictures over a thread pool.
    rendered = rendered.format() == QImage::Format_ARGB32 ? rendered
                                                          : rendered.convertToFormat(QImage::Format_ARGB32);
    const int left = (kLivePictureWidth - rendered.width()) / 2;
    const int top = (kLivePictureHeight - rendered.height()) / 2;
    for (int y = 0; y < rendered.height(); ++y) {
        const auto* from = reinterpret_cast<const QRgb*>(rendered.constScanLine(y));
        auto* to = reinterpret_cast<QRgb*>(canvas.scanLine(top + y)) + left;
        for (int x = 0; x < rendered.width(); ++x) {
            const QRgb p = from[x];
            const int a = qAlpha(p);
            const auto over = [a](int c) { return (c * a + 255 * (255 - a) + 127) / 255; };
            to[x] = qRgb(over(qRed(p)), over(qGreen(p)), over(qBlue(p)));
        }
    }
    return canvas;
}

QImage PdfDeck::page(int index) {
    if (index < 0 || index >= pageCount_) return {};
    {
        std::lock_guard lock(mutex_);
        const auto kept = cache_.find(index);
        if (kept != cache_.end()) return kept->second;
    }
    return render(index);
}

bool PdfDeck::isReady(int index) const {
    std::lock_guard lock(mutex_);
    return cache_.count(index) != 0;
}

void PdfDeck::keepAround(int index) {
    for (auto it = cache_.begin(); it != cache_.end();) {
        it = std::abs(it->first - index) > 1 ? cache_.erase(it) : std::next(it);
    }
}

void PdfDeck::show(int index, PageReady ready) {
    if (index < 0 || index >= pageCount_) return;
    std::lock_guard delivering(deliverMutex_);
    QImage picture;
    {
        std::lock_guard lock(mutex_);
        wanted_ = index;
        ready_ = std::move(ready);
        const auto kept = cache_.find(index);
        delivered_ = kept != cache_.end();
        if (delivered_) picture = kept->second;
        keepAround(index);
        busy_ = true;
    }
    wake_.notify_all();
    if (!picture.isNull() && ready_) ready_(index, picture);
}

void PdfDeck::waitIdle() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return !busy_ || stop_; });
}

void PdfDeck::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (stop_) return;
        // The page asked for first, then the next one, then the previous one.
        int next = -1;
        if (wanted_ >= 0) {
            for (const int candidate : {wanted_, wanted_ + 1, wanted_ - 1}) {
                if (candidate >= 0 && candidate < pageCount_ && cache_.count(candidate) == 0) {
                    next = candidate;
                    break;
                }
            }
        }
        if (next < 0) {
            busy_ = false;
            idle_.notify_all();
            wake_.wait(lock);
            continue;
        }
        lock.unlock();
        QImage picture = render(next);
        std::unique_lock delivering(deliverMutex_);
        lock.lock();
        if (stop_) return;
        // A page that is no longer near the one wanted is not kept.
        if (std::abs(next - wanted_) <= 1) cache_[next] = picture;
        if (next == wanted_ && !delivered_) {
            delivered_ = true;
            PageReady ready = ready_;
            lock.unlock();
            if (ready) ready(next, picture);
            delivering.unlock();
            lock.lock();
        }
    }
}

}  // namespace vantry::platform::wall
