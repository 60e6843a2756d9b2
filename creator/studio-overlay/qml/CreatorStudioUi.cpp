#include "creator/studio-overlay/qml/CreatorStudioUi.h"

#include <QCoreApplication>
#include <QDir>
#include <QFontDatabase>
#include <QQmlEngine>
#include <QThreadPool>
#include <exception>
#include <mutex>

#include "creator/clips-and-juice/OruViralAutoClipper9x16V1030.h"
#include "creator/studio-overlay/OruCreatorStudioControllerV1045.h"
#include "creator/studio-overlay/PresenterSnapshot.h"
#include "creator/studio-overlay/qml/FacecamPictureItem.h"
#include "creator/studio-overlay/qml/GradientSymbolItem.h"
#include "platform/fonts/BrandFonts.h"
#include "platform/symbols/SymbolGlyphs.h"

static void initCreatorStudioOverlayResources() {
    Q_INIT_RESOURCE(creator_studio_overlay_qml);
}

namespace vantry::creator::qml {

namespace {

studio::BorderStyle borderOf(bool recording, double micLevel, const QString& mode, const QString& shape) {
    const auto m = OruFacecamBackgroundModeV1045::fromRawValue(mode.toStdString());
    const auto s = OruFacecamShapeV1045::fromRawValue(shape.toStdString());
    return studio::presenterBorder(recording, micLevel, m && s && isFreeCutout(*m, *s));
}

std::mutex& factoryMutex() {
    static std::mutex m;
    return m;
}

ControllerFactory& customFactory() {
    static ControllerFactory factory;
    return factory;
}

QObject* makeDefaultController(QObject* parent);

QString exportClip(const QString& gameTitle, const QString& highlightHeadline, const QString& statBadge) {
    try {
        const auto receipt = OruViralAutoClipper9x16V1030::exportVerticalViralClip(
            gameTitle.toStdString(), highlightHeadline.toStdString(), statBadge.toStdString(), std::nullopt,
            std::nullopt, 3.0, 30);
        return QString::fromStdString(receipt.outputPath);
    } catch (const std::exception&) {
        return {};  // any thrown error counts as no result
    }
}

}  // namespace

void setControllerFactory(ControllerFactory factory) {
    std::lock_guard lock(factoryMutex());
    customFactory() = std::move(factory);
}

void registerCreatorStudioQml(QQmlEngine& engine) {
    static const bool registered = [] {
        initCreatorStudioOverlayResources();
        qmlRegisterType<FacecamPictureItem>("VantryCreatorNative", 1, 0, "FacecamPicture");
        qmlRegisterType<GradientSymbolItem>("VantryCreatorNative", 1, 0, "GradientSymbol");
        qmlRegisterUncreatableType<OverlayClipExporter>("VantryCreatorNative", 1, 0, "OverlayClipExporter",
                                                        QStringLiteral("made by CreatorStudioUi"));
        qmlRegisterSingletonType<CreatorStudioUi>(
            "VantryCreatorNative", 1, 0, "CreatorStudioUi",
            [](QQmlEngine*, QJSEngine*) -> QObject* { return new CreatorStudioUi; });
        return true;
    }();
    (void)registered;
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
}

OverlayClipExporter::OverlayClipExporter(QObject* parent) : OverlayClipExporter(exportClip, parent) {}

OverlayClipExporter::OverlayClipExporter(ExportFunction exportFunction, QObject* parent)
    : QObject(parent), exportFunction_(std::move(exportFunction)) {}

void OverlayClipExporter::start(const QString& gameTitle, const QString& highlightHeadline,
                                const QString& statBadge) {
    ++running_;
    emit runningChanged();
    QPointer<OverlayClipExporter> self(this);
    QThreadPool::globalInstance()->start(
        [self, fn = exportFunction_, gameTitle, highlightHeadline, statBadge] {
            const QString path = fn ? fn(gameTitle, highlightHeadline, statBadge) : QString();
            QCoreApplication* app = QCoreApplication::instance();
            if (app == nullptr) return;
            QMetaObject::invokeMethod(
                app,
                [self, path] {
                    if (!self) return;
                    --self->running_;
                    emit self->runningChanged();
                    emit self->finished(!path.isEmpty(), path);
                },
                Qt::QueuedConnection);
        });
}

QString CreatorStudioUi::iconFamily() {
    return platform::materialIconsFamily();
}

QString CreatorStudioUi::monoFamily() {
    static const QString family = QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
    return family;
}

QString CreatorStudioUi::displayPath(const QString& path) {
    const QString home = QDir::homePath();
    if (!home.isEmpty() && home != QLatin1String("/") &&
        (path == home || path.startsWith(home + QLatin1Char('/'))))
        return QLatin1Char('~') + path.mid(home.size());
    return path;
}

double CreatorStudioUi::shadowMargin() {
    return FacecamPictureItem::kShadowMargin;
}

double CreatorStudioUi::clampScale(double s) {
    return OruCreatorStudioControllerV1045::clampScale(s);
}

QSizeF CreatorStudioUi::clampOffset(const QSizeF& offset, const QSizeF& area) {
    return OruCreatorStudioControllerV1045::clampOffset(offset, area);
}

QColor CreatorStudioUi::presenterBorderColor(bool recording, double micLevel, const QString& mode,
                                             const QString& shape) {
    return toQColor(borderOf(recording, micLevel, mode, shape));
}

double CreatorStudioUi::presenterBorderWidth(bool recording, double micLevel, const QString& mode,
                                             const QString& shape) {
    return borderOf(recording, micLevel, mode, shape).width;
}

QString CreatorStudioUi::icon(const QString& symbol) {
    const char32_t cp = platform::symbolCodepoint(symbol.toStdString());
    return QString::fromUcs4(&cp, 1);
}

QObject* CreatorStudioUi::newController(QObject* parent) {
    ControllerFactory factory;
    {
        std::lock_guard lock(factoryMutex());
        factory = customFactory();
    }
    QObject* controller = factory ? factory(parent) : makeDefaultController(parent);
    if (controller) QQmlEngine::setObjectOwnership(controller, QQmlEngine::CppOwnership);
    return controller;
}

QObject* CreatorStudioUi::newClipExporter(QObject* parent) {
    auto* exporter = new OverlayClipExporter(parent);
    QQmlEngine::setObjectOwnership(exporter, QQmlEngine::CppOwnership);
    return exporter;
}

namespace {

QObject* makeDefaultController(QObject* parent) {
    return new OruCreatorStudioControllerV1045(parent);
}

}  // namespace

}  // namespace vantry::creator::qml
