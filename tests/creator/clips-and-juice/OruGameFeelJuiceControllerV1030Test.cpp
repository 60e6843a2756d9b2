#include <gtest/gtest.h>

#include <QSignalSpy>

#include "creator/clips-and-juice/OruGameFeelJuiceControllerV1030.h"

using vantry::creator::OruGameFeelJuiceControllerV1030;

TEST(JuiceController, ImpactAnnouncesChangesAndAddsPopups) {
    OruGameFeelJuiceControllerV1030 c;
    QSignalSpy trauma(&c, &OruGameFeelJuiceControllerV1030::traumaChanged);
    QSignalSpy popups(&c, &OruGameFeelJuiceControllerV1030::popupsChanged);
    QSignalSpy count(&c, &OruGameFeelJuiceControllerV1030::totalImpactCountChanged);
    QSignalSpy squashX(&c, &OruGameFeelJuiceControllerV1030::squashScaleXChanged);

    c.triggerImpact(2, 0.1);
    EXPECT_EQ(trauma.count(), 1);
    EXPECT_EQ(count.count(), 1);
    EXPECT_EQ(squashX.count(), 1);
    EXPECT_EQ(popups.count(), 0);
    EXPECT_DOUBLE_EQ(c.squashScaleX(), 1.28);

    for (int i = 0; i < 13; ++i) c.triggerImpact(0.3, 0, QString("+%1").arg(i), 0xFFCC00u, QPointF(0.2, 0.8));
    EXPECT_EQ(popups.count(), 13);
    const auto list = c.popupList();
    ASSERT_EQ(list.size(), 12);
    EXPECT_EQ(list.front().toMap().value("text").toString(), "+1");
    EXPECT_EQ(list.back().toMap().value("colorHex").toUInt(), 0xFFCC00u);
    EXPECT_DOUBLE_EQ(list.back().toMap().value("normalizedY").toDouble(), 0.8);
    EXPECT_DOUBLE_EQ(list.back().toMap().value("opacity").toDouble(), 1.0);
    EXPECT_EQ(c.totalImpactCount(), 14);

    c.triggerImpact(0.3, 0, QString());  // an empty text is still a popup
    EXPECT_EQ(c.popups().back().text, "");
}

TEST(JuiceController, StepShakesThenSettles) {
    OruGameFeelJuiceControllerV1030 c;
    QSignalSpy shake(&c, &OruGameFeelJuiceControllerV1030::shakeOffsetChanged);
    QSignalSpy hitStop(&c, &OruGameFeelJuiceControllerV1030::hitStopRemainingChanged);
    c.triggerImpact(1, 0.1);
    EXPECT_EQ(hitStop.count(), 1);
    EXPECT_TRUE(c.step(0.2));
    EXPECT_FALSE(c.step(0.2));
    EXPECT_EQ(hitStop.count(), 3);
    EXPECT_GE(shake.count(), 1);
    for (int i = 0; i < 40; ++i) c.step(1.0 / 60.0);
    EXPECT_EQ(c.trauma(), 0.0);
    EXPECT_EQ(c.shakeOffset(), QSizeF(0, 0));
    EXPECT_EQ(c.shakeAngleDeg(), 0.0);
    EXPECT_GT(c.elapsed(), 0.7);

    QSignalSpy status(&c, &OruGameFeelJuiceControllerV1030::lastClipStatusChanged);
    c.setLastClipStatus("ok");
    c.setLastClipStatus("ok");
    EXPECT_EQ(status.count(), 1);
}

TEST(JuiceController, TinyTraumaStaysPut) {
    OruGameFeelJuiceControllerV1030 c;
    c.triggerImpact(0, 0);  // 0.0425
    while (c.trauma() > 0.001) c.step(1.0 / 240.0);
    const double left = c.trauma();
    QSignalSpy trauma(&c, &OruGameFeelJuiceControllerV1030::traumaChanged);
    for (int i = 0; i < 50; ++i) c.step(0.05);
    EXPECT_EQ(c.trauma(), left);
    EXPECT_EQ(trauma.count(), 0);
}

TEST(JuiceController, PropertiesReadableByName) {
    OruGameFeelJuiceControllerV1030 c;
    c.triggerImpact(1, 0.2, QString("CRIT"), 0xFF0000u, QPointF(0.3, 0.4));
    EXPECT_DOUBLE_EQ(c.property("trauma").toDouble(), 0.85);
    EXPECT_DOUBLE_EQ(c.property("hitStopRemaining").toDouble(), 0.2);
    EXPECT_EQ(c.property("shakeOffset").toSizeF(), QSizeF(0, 0));
    EXPECT_EQ(c.property("totalImpactCount").toLongLong(), 1);
    EXPECT_EQ(c.property("popups").toList().size(), 1);
    EXPECT_DOUBLE_EQ(c.property("squashScaleY").toDouble(), 0.76);
    EXPECT_TRUE(c.property("lastClipStatus").toString().isEmpty());
    EXPECT_TRUE(QMetaObject::invokeMethod(&c, "step", Q_ARG(double, 0.05)));
    EXPECT_NE(c.property("shakeOffset").toSizeF(), QSizeF(0, 0));
}
