#include "platform/Platform.h"

#include <gtest/gtest.h>

namespace {

struct SettingsCase {
    const char* name;
    const char* desktop; // XDG_CURRENT_DESKTOP
    QStringList installed;
    QStringList command;
};

const QString gnome = QStringLiteral("gnome-control-center");
const QString plasma = QStringLiteral("systemsettings");
const QString plasmaBefore526 = QStringLiteral("systemsettings5");
const QString pavucontrol = QStringLiteral("pavucontrol");
const QStringList everything{gnome, plasma, pavucontrol};
const QStringList gnomeSound{gnome, QStringLiteral("sound")};
const QStringList plasmaSound{plasma, QStringLiteral("kcm_pulseaudio")};

void PrintTo(const SettingsCase& c, std::ostream* out) {
    *out << c.name;
}

class SoundSettings : public testing::TestWithParam<SettingsCase> {};

} // namespace

TEST_P(SoundSettings, TheDesktopsOwnPanelElsePavucontrol) {
    const SettingsCase& c = GetParam();
    const QStringList command =
        soundSettingsCommand(QString::fromUtf8(c.desktop),
                             [&](const QString& program) { return c.installed.contains(program); });
    EXPECT_EQ(command, c.command);
}

INSTANTIATE_TEST_SUITE_P(
    Desktops, SoundSettings,
    testing::Values(
        SettingsCase{"Gnome", "GNOME", everything, gnomeSound},
        SettingsCase{"UbuntuGnome", "ubuntu:GNOME", everything, gnomeSound},
        SettingsCase{"UbuntuAlone", "ubuntu", everything, gnomeSound},
        SettingsCase{"Unity", "Unity", everything, gnomeSound},
        SettingsCase{"GnomeFlashback", "GNOME-Flashback:GNOME", everything, gnomeSound},
        SettingsCase{"GnomeWithoutItsPanel", "ubuntu:GNOME", {plasma, pavucontrol}, {pavucontrol}},
        SettingsCase{"Plasma", "KDE", everything, plasmaSound},
        SettingsCase{"OlderPlasma",
                     "KDE",
                     {plasmaBefore526, pavucontrol},
                     {plasmaBefore526, QStringLiteral("kcm_pulseaudio")}},
        SettingsCase{"PlasmaWithoutItsSettings", "KDE", {gnome, pavucontrol}, {pavucontrol}},
        SettingsCase{"Cinnamon", "X-Cinnamon", everything, {pavucontrol}},
        SettingsCase{"UnknownDesktopWithoutPavucontrol", "XFCE", {gnome, plasma}, {}},
        SettingsCase{"NoDesktopNamed", "", {pavucontrol}, {pavucontrol}},
        SettingsCase{"NothingInstalled", "GNOME", {}, {}}),
    [](const testing::TestParamInfo<SettingsCase>& info) { return info.param.name; });
