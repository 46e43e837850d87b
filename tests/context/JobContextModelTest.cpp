#include "context/JobContextModel.h"
#include "settings/AppSettings.h"
#include "settings/Graphemes.h"
#include "support/TestHome.h"

#include <QSettings>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include "Printers.h"

namespace {

class JobContextModelTest : public ::testing::Test {
protected:
    QString configPath() const { return home.configHome() + QStringLiteral("/Corvinel.conf"); }

    JobContextModel& model() {
        if (!m_model)
            m_model = std::make_unique<JobContextModel>(
                settings, [this] { ++applyCalls; }, [this] { return clipboard; });
        return *m_model;
    }

    // What a fresh process would read.
    QVariant stored(const char* key) const {
        return QSettings(configPath(), QSettings::IniFormat).value(QLatin1String(key));
    }

    TestHome home;
    AppSettings settings{configPath()};
    std::optional<QString> clipboard;
    int applyCalls = 0;

private:
    std::unique_ptr<JobContextModel> m_model;
};

TEST_F(JobContextModelTest, CountsLineShowsDescriptionAndPromptCharacters) {
    settings.setJobDescription(QStringLiteral("Caf\u00E9 \U0001F469\u200D\U0001F4BB"));
    const QString expected = QStringLiteral("6 chars \u00B7 prompt total ") +
                             QString::number(Graphemes::count(settings.instructions()));
    EXPECT_EQ(model().countsLine(), expected);

    QSignalSpy spy(&model(), &JobContextModel::countsLineChanged);
    settings.setContextText(QStringLiteral("More context."));
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(model().countsLine(), QStringLiteral("6 chars \u00B7 prompt total ") +
                                        QString::number(Graphemes::count(settings.instructions())));
    settings.setModel(QStringLiteral("other-model"));
    settings.setContextText(QStringLiteral("More context."));
    EXPECT_EQ(spy.count(), 1) << "no signal without a change of the line";
}

TEST_F(JobContextModelTest, PasteReplacesTheDescriptionOnlyWhenTheClipboardHasText) {
    model().setJobDescription(QStringLiteral("old posting"));
    QSignalSpy spy(&model(), &JobContextModel::jobDescriptionChanged);

    for (const std::optional<QString>& nothing :
         {std::optional<QString>(), std::optional(QString())}) {
        clipboard = nothing;
        model().paste();
        EXPECT_EQ(model().jobDescription(), QStringLiteral("old posting"));
        EXPECT_EQ(spy.count(), 0);
    }

    clipboard = QStringLiteral("New posting\nwith lines");
    model().paste();
    EXPECT_EQ(settings.jobDescription(), QStringLiteral("New posting\nwith lines"));
    EXPECT_EQ(stored("jobDescription").toString(), QStringLiteral("New posting\nwith lines"));
    EXPECT_EQ(spy.count(), 1);
}

TEST_F(JobContextModelTest, ClearEmptiesTheRoleButKeepsThePanel) {
    model().setCompanyName(QStringLiteral("Helvetia Pay"));
    model().setRoleTitle(QStringLiteral("Head of Delivery"));
    model().setJobDescription(QStringLiteral("Posting"));
    model().setInterviewerName(0, QStringLiteral("Ana"));
    model().setInterviewerTitle(1, QStringLiteral("CTO"));
    const Panel panel = settings.interviewers();
    EXPECT_TRUE(model().canClear());

    QSignalSpy canClear(&model(), &JobContextModel::canClearChanged);
    QSignalSpy panelSpy(&model(), &JobContextModel::interviewersChanged);
    model().clear();
    EXPECT_EQ(settings.jobDescription(), QString());
    EXPECT_EQ(settings.companyName(), QString());
    EXPECT_EQ(settings.roleTitle(), QString());
    for (const char* key : {"jobDescription", "companyName", "roleTitle"})
        EXPECT_EQ(stored(key).toString(), QString()) << key;
    EXPECT_EQ(settings.interviewers(), panel);
    EXPECT_EQ(panelSpy.count(), 0);
    EXPECT_FALSE(model().canClear());
    EXPECT_EQ(canClear.count(), 1);
}

TEST_F(JobContextModelTest, ClearIsInertWhileTheDescriptionIsEmpty) {
    model().setCompanyName(QStringLiteral("Helvetia Pay"));
    EXPECT_FALSE(model().canClear());
    model().clear();
    EXPECT_EQ(settings.companyName(), QStringLiteral("Helvetia Pay"));
}

TEST_F(JobContextModelTest, ButtonReadsApplyLiveDuringASessionAndSaveOtherwise) {
    QSignalSpy label(&model(), &JobContextModel::applyLabelChanged);
    QSignalSpy active(&model(), &JobContextModel::sessionActiveChanged);
    EXPECT_EQ(model().applyLabel(), QStringLiteral("Save"));
    model().setSessionActive(true);
    EXPECT_EQ(model().applyLabel(), QStringLiteral("Apply live"));
    model().setSessionActive(true);
    model().setSessionActive(false);
    EXPECT_EQ(model().applyLabel(), QStringLiteral("Save"));
    EXPECT_EQ(label.count(), 2);
    EXPECT_EQ(active.count(), 2);
}

TEST_F(JobContextModelTest, ApplyRunsTheLiveApplyThenReportsSaved) {
    QSignalSpy saved(&model(), &JobContextModel::saved);
    int callsWhenSaved = -1;
    QObject::connect(&model(), &JobContextModel::saved, [&] { callsWhenSaved = applyCalls; });
    model().apply();
    EXPECT_EQ(applyCalls, 1);
    EXPECT_EQ(callsWhenSaved, 1);
    EXPECT_EQ(saved.count(), 1);

    JobContextModel unwired(settings, {}, {});
    unwired.paste();
    unwired.apply();
}

TEST_F(JobContextModelTest, PanelEditsAreWrittenBackAndKeepTwoMembers) {
    const Panel before = settings.interviewers();
    QSignalSpy spy(&model(), &JobContextModel::interviewersChanged);
    model().setInterviewerName(1, QStringLiteral("Ben"));
    model().setInterviewerTitle(1, QStringLiteral("Delivery Director"));
    model().setInterviewerTitle(1, QStringLiteral("Delivery Director"));
    model().setInterviewerName(2, QStringLiteral("nobody"));
    model().setInterviewerName(-1, QStringLiteral("nobody"));
    EXPECT_EQ(spy.count(), 2);
    EXPECT_EQ(model().interviewerNames(), (QStringList{QString(), QStringLiteral("Ben")}));
    EXPECT_EQ(model().interviewerTitles(),
              (QStringList{QString(), QStringLiteral("Delivery Director")}));
    ASSERT_EQ(settings.interviewers().size(), 2);
    EXPECT_EQ(settings.interviewers()[0], before[0]);
    EXPECT_EQ(settings.interviewers()[1].id, before[1].id);

    AppSettings reread(configPath());
    EXPECT_EQ(reread.interviewers(), settings.interviewers());
}

TEST_F(JobContextModelTest, PanelEditMendsAPanelOfAnotherSize) {
    settings.setInterviewers({Interviewer::blank()});
    model().setInterviewerTitle(1, QStringLiteral("CTO"));
    ASSERT_EQ(settings.interviewers().size(), 2);
    EXPECT_EQ(settings.interviewers()[1].title, QStringLiteral("CTO"));
}

TEST_F(JobContextModelTest, FieldsNotifyOnlyOnRealChange) {
    QSignalSpy company(&model(), &JobContextModel::companyNameChanged);
    QSignalSpy role(&model(), &JobContextModel::roleTitleChanged);
    model().setCompanyName(QStringLiteral("A"));
    model().setCompanyName(QStringLiteral("A"));
    model().setRoleTitle(QStringLiteral("R"));
    EXPECT_EQ(company.count(), 1);
    EXPECT_EQ(role.count(), 1);
    EXPECT_EQ(stored("companyName").toString(), QStringLiteral("A"));
}

} // namespace
