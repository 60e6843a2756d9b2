// PDF files made in a test: pages told apart by one big block of colour each, and files a deck
// must refuse (damaged, password-protected, without pages, with a page too large).
#pragma once

#include <QByteArray>
#include <QColor>
#include <QCryptographicHash>
#include <QGuiApplication>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSizeF>
#include <QString>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace vantry::testing {

// Writing PDFs needs a Qt GUI application; one for the whole test program (offscreen without
// a display).
inline QGuiApplication& pdfWritingApplication() {
    static int argc = 1;
    static char name[] = "pdf_tests";
    static char* argv[] = {name, nullptr};
    if (std::getenv("DISPLAY") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static QGuiApplication app(argc, argv);
    return app;
}

// Near enough to `want` for an anti-aliased render.
inline bool nearColour(QRgb got, const QColor& want) {
    return std::abs(qRed(got) - want.red()) < 16 && std::abs(qGreen(got) - want.green()) < 16 &&
           std::abs(qBlue(got) - want.blue()) < 16;
}

struct MadeUpPage {
    QColor colour;
    QSizeF points{320, 180};  // 16:9 fills the wall
};

// Each page is filled with its colour, a white margin of a tenth of the page all round.
inline void writeMadeUpPdf(const std::filesystem::path& file, const std::vector<MadeUpPage>& pages) {
    QPdfWriter writer(QString::fromStdString(file.string()));
    writer.setResolution(72);
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setPageSize(QPageSize(pages.front().points, QPageSize::Point));
    QPainter painter(&writer);
    for (std::size_t i = 0; i < pages.size(); ++i) {
        if (i > 0) {
            writer.setPageSize(QPageSize(pages[i].points, QPageSize::Point));
            writer.newPage();
        }
        const QSizeF size = pages[i].points;
        painter.fillRect(QRectF(0, 0, size.width(), size.height()), Qt::white);
        painter.fillRect(
            QRectF(size.width() / 10, size.height() / 10, size.width() * 0.8, size.height() * 0.8),
            pages[i].colour);
    }
    painter.end();
}

// A hand-written PDF from its objects ("<< /Type /Catalog ... >>" each, numbered from 1) with a
// correct cross-reference table and the trailer's extra entries.
inline std::string handWrittenPdf(const std::vector<std::string>& objects, const std::string& trailerExtra) {
    std::string out = "%PDF-1.4\n";
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(out.size());
        out += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const std::size_t xref = out.size();
    out += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (const std::size_t offset : offsets) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
        out += line;
    }
    out += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R " + trailerExtra +
           " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return out;
}

// The objects of a document with one empty page of the media box ("[0 0 320 180]").
inline std::vector<std::string> onePageObjects(const std::string& mediaBox) {
    return {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
            "<< /Type /Page /Parent 2 0 R /MediaBox " + mediaBox + " >>"};
}

// A document of `pages` empty 16:9 pages, written by hand (no Qt GUI application needed).
inline std::string blankPagesPdf(int pages) {
    std::string kids;
    std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R >>", ""};
    for (int i = 0; i < pages; ++i) {
        kids += std::to_string(i + 3) + " 0 R ";
        objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 320 180] >>");
    }
    objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>";
    return handWrittenPdf(objects, "");
}

namespace detail {
inline QByteArray rc4(const QByteArray& key, const QByteArray& data) {
    std::array<unsigned char, 256> s{};
    for (int i = 0; i < 256; ++i) s[std::size_t(i)] = static_cast<unsigned char>(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[std::size_t(i)] + static_cast<unsigned char>(key[i % key.size()])) & 255;
        std::swap(s[std::size_t(i)], s[std::size_t(j)]);
    }
    QByteArray out(data.size(), '\0');
    for (int n = 0, i = 0, j = 0; n < data.size(); ++n) {
        i = (i + 1) & 255;
        j = (j + s[std::size_t(i)]) & 255;
        std::swap(s[std::size_t(i)], s[std::size_t(j)]);
        out[n] = char(static_cast<unsigned char>(data[n]) ^ s[(s[std::size_t(i)] + s[std::size_t(j)]) & 255]);
    }
    return out;
}
inline QByteArray padded(const QByteArray& password) {
    static const unsigned char pad[32] = {0x28, 0xBF, 0x4E, 0x5E, 0x4E, 0x75, 0x8A, 0x41, 0x64, 0x00, 0x4E,
                                          0x56, 0xFF, 0xFA, 0x01, 0x08, 0x2E, 0x2E, 0x00, 0xB6, 0xD0, 0x68,
                                          0x3E, 0x80, 0x2F, 0x0C, 0xA9, 0xFE, 0x64, 0x53, 0x69, 0x7A};
    QByteArray out = password.left(32);
    out.append(reinterpret_cast<const char*>(pad), 32 - out.size());
    return out;
}
}  // namespace detail

// A one-page PDF under the standard security handler (RC4, revision 2) whose user password is
// `userPassword`: opening it without the password fails.
inline std::string passwordProtectedPdf(const QByteArray& userPassword) {
    using detail::padded;
    using detail::rc4;
    const QByteArray ownerKey =
        QCryptographicHash::hash(padded("owner secret"), QCryptographicHash::Md5).left(5);
    const QByteArray o = rc4(ownerKey, padded(userPassword));
    const QByteArray id = QByteArray::fromHex("00112233445566778899aabbccddeeff");
    const qint32 p = -4;
    QByteArray keyInput = padded(userPassword) + o;
    for (int i = 0; i < 4; ++i) keyInput.append(char((quint32(p) >> (8 * i)) & 0xFF));
    keyInput += id;
    const QByteArray key = QCryptographicHash::hash(keyInput, QCryptographicHash::Md5).left(5);
    const QByteArray u = rc4(key, padded(""));  // revision 2: the padding encrypted
    std::vector<std::string> objects = onePageObjects("[0 0 320 180]");
    objects.push_back("<< /Filter /Standard /V 1 /R 2 /O <" + o.toHex().toStdString() + "> /U <" +
                      u.toHex().toStdString() + "> /P " + std::to_string(p) + " >>");
    return handWrittenPdf(objects, "/Encrypt 4 0 R /ID [<" + id.toHex().toStdString() + "> <" +
                                       id.toHex().toStdString() + ">]");
}

inline void writeBytes(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

}  // namespace vantry::testing
