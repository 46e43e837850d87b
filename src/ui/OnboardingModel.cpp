#include "ui/OnboardingModel.h"

#include "base/Assign.h"
#include "base/Background.h"
#include "ui/CaptureProof.h"
#include "ui/JobModels.h"
#include "ui/Symbols.h"
#include "ui/Tones.h"

#include <QVariantMap>

namespace {

struct BodyRow {
    QString symbol;
    QString title;
    QString detail;
};

QVariantList rowsOf(const QList<BodyRow>& rows) {
    QVariantList list;
    for (const BodyRow& row : rows)
        list.append(QVariantMap{{QStringLiteral("symbol"), row.symbol},
                                {QStringLiteral("title"), row.title},
                                {QStringLiteral("detail"), row.detail}});
    return list;
}

} // namespace

OnboardingModel::OnboardingModel(QObject* parent) : QObject(parent) {
    m_recheck.setInterval(recheckMs);
    connect(&m_recheck, &QTimer::timeout, this, &OnboardingModel::recheck);
    connect(&m_importer, &ContextImporter::finished, this, &OnboardingModel::documentsLoaded);
    m_proof = new CaptureProof(this);
    connect(m_proof, &CaptureProof::changed, this, &OnboardingModel::permissionsChanged);
    connect(m_proof, &CaptureProof::micLevelChanged, this, &OnboardingModel::setMicLevel);
}

OnboardingModel::~OnboardingModel() = default;

void OnboardingModel::setSettings(AppSettings* settings) {
    if (m_settings == settings)
        return;
    m_settingsConnections.clear();
    m_settings = settings;
    if (m_settings) {
        m_settingsConnections.add(connect(m_settings, &AppSettings::hasCompletedOnboardingChanged,
                                          this, &OnboardingModel::showChanged));
        m_settingsConnections.add(connect(m_settings, &AppSettings::contextFileNamesChanged, this,
                                          &OnboardingModel::contextChanged));
    }
    m_importer.setTargets(m_session, m_settings);
    m_job = renewJobContextModel(m_job, m_settings, m_session, this);
    emit settingsChanged();
    emit jobChanged();
    emit contextChanged();
    showChanged();
}

void OnboardingModel::setSession(SessionController* session) {
    if (m_session == session)
        return;
    m_session = session;
    m_importer.setTargets(m_session, m_settings);
    m_job = renewJobContextModel(m_job, m_settings, m_session, this);
    emit sessionChanged();
    emit jobChanged();
    showChanged();
}

bool OnboardingModel::shown() const {
    return m_settings && m_session && !m_settings->hasCompletedOnboarding();
}

void OnboardingModel::showChanged() {
    const bool now = shown();
    if (now == m_wasShown)
        return;
    m_wasShown = now;
    if (now) {
        // Every showing starts at the beginning, with the rows as they are now.
        setStep(0);
        recheck();
        m_recheck.start();
    } else {
        m_recheck.stop();
        m_proof->stopAll();
    }
    emit shownChanged();
}

void OnboardingModel::setStep(int step) {
    if (m_step == step)
        return;
    m_step = step;
    // The microphone's meter belongs to its row.
    if (m_step != int(Step::permissions))
        m_proof->stopAll();
    emit stepChanged();
}

void OnboardingModel::move(int offset) {
    setStep(std::clamp(m_step + offset, 0, stepCount - 1));
}

void OnboardingModel::primary() {
    if (m_step < stepCount - 1)
        move(1);
    else
        finish();
}

void OnboardingModel::finish() {
    if (m_settings)
        m_settings->setHasCompletedOnboarding(true);
}

QString OnboardingModel::title() const {
    switch (Step(m_step)) {
    case Step::welcome:
        return QStringLiteral("Welcome to Corvinel");
    case Step::permissions:
        return QStringLiteral("Let it hear the meeting");
    case Step::context:
        return QStringLiteral("Make the answers yours");
    case Step::ready:
        return QStringLiteral("One practice run first");
    }
    return {};
}

QString OnboardingModel::position() const {
    return QStringLiteral("Step ") + QString::number(m_step + 1) + QStringLiteral(" of ") +
           QString::number(stepCount);
}

QStringList OnboardingModel::dotColors() const {
    QStringList colors;
    for (int i = 0; i < stepCount; ++i)
        colors.append(i <= m_step ? Tones::accent().name(QColor::HexArgb)
                                  : Tones::faded(Tones::secondary(), 0.3).name(QColor::HexArgb));
    return colors;
}

QString OnboardingModel::intro() const {
    switch (Step(m_step)) {
    case Step::welcome:
        return QStringLiteral("Corvinel listens to your interview, transcribes each question, and "
                              "drafts an answer from your own CV — in about a second.");
    case Step::permissions:
        return QStringLiteral(
            "Each row checks what the sound server offers here. The middle one is the important "
            "one — on the wrong output the app hears silence and no error says so.");
    case Step::context:
        return QStringLiteral("Answers are only as specific as what you give it. This is the "
                              "difference between a generic reply and one citing your actual "
                              "projects.");
    case Step::ready:
        return QStringLiteral("Before a real interview, run one practice session.");
    }
    return {};
}

QString OnboardingModel::introDetail() const {
    if (Step(m_step) != Step::ready)
        return {};
    return QStringLiteral(
        "Play an interview video, press Start, and watch what happens. Ten minutes tells you "
        "where to put the window, how large the text should be, and how the timing feels — none "
        "of which you want to be working out while someone is asking about your greatest "
        "weakness.");
}

QVariantList OnboardingModel::rows() const {
    switch (Step(m_step)) {
    case Step::welcome:
        return rowsOf(
            {{Symbols::waveform(), QStringLiteral("It hears the meeting, not the room"),
              QStringLiteral("The audio your computer is playing — Teams, Zoom, a call on speaker. "
                             "Nothing to install alongside it.")},
             {Symbols::micSlash(), QStringLiteral("Your microphone never leaves this computer"),
              QStringLiteral("Your voice is transcribed here, on-device. Only the other side of "
                             "the conversation is sent away.")},
             {Symbols::shield(), QStringLiteral("Recording rules vary by country and state"),
              QStringLiteral("In many places you need consent to record a conversation. That "
                             "part is your responsibility.")}});
    case Step::ready:
        return rowsOf(
            {{Symbols::windows(), QStringLiteral("Put the window beside the video"),
              QStringLiteral("Not below it — your eyes should stay near the camera.")},
             {Symbols::textSize(), QStringLiteral("Set the text size now"),
              QStringLiteral("Ctrl++ and Ctrl+− adjust it. Big enough to take in at a glance.")},
             {Symbols::timer(), QStringLiteral("Watch the answer timer"),
              QStringLiteral("It turns amber at 45 seconds. Most people talk too long under "
                             "pressure.")}});
    case Step::permissions:
    case Step::context:
        break;
    }
    return {};
}

QString OnboardingModel::primaryLabel() const {
    return m_step < stepCount - 1 ? QStringLiteral("Continue") : QStringLiteral("Start using it");
}

QVariantList OnboardingModel::permissions() const {
    struct Row {
        QString title;
        QString detail;
        bool granted;
    };
    const QList<Row> rows{
        {QStringLiteral("Microphone"),
         QStringLiteral("To hear you — for the answer timer and your own transcript."),
         m_report.microphone},
        {QStringLiteral("Screen & System Audio Recording"),
         QStringLiteral("To hear the meeting. No screen is captured — Corvinel records the "
                        "sound server's monitor of your output, which asks no permission. "
                        "\"Test\" proves it works."),
         m_report.systemAudio || m_proof->toneState() == CaptureProof::ToneState::heard},
        {QStringLiteral("Speech Recognition (optional)"),
         QStringLiteral("Transcribes your own answers on-device, so you can review what you "
                        "said."),
         m_report.speech}};
    QVariantList list;
    for (int i = 0; i < rows.size(); ++i) {
        const Row& row = rows.at(i);
        const CaptureProof::RowTest test = m_proof->rowTest(i);
        list.append(QVariantMap{
            {QStringLiteral("index"), i},
            {QStringLiteral("title"), row.title},
            {QStringLiteral("detail"), row.detail},
            {QStringLiteral("granted"), row.granted},
            {QStringLiteral("symbol"), row.granted ? Symbols::granted() : Symbols::pending()},
            {QStringLiteral("symbolColor"),
             (row.granted ? Tones::green() : Tones::secondary()).name(QColor::HexArgb)},
            {QStringLiteral("testable"), test.available},
            {QStringLiteral("testLabel"), test.buttonLabel},
            {QStringLiteral("testStatus"), test.status},
            {QStringLiteral("hasTestStatus"), !test.status.isEmpty()},
            {QStringLiteral("grantName"), QStringLiteral("Grant ") + row.title},
            {QStringLiteral("settingsName"), QStringLiteral("Settings for ") + row.title},
            {QStringLiteral("testName"), QStringLiteral("Test ") + row.title},
            {QStringLiteral("showsMeter"), test.showsMeter}});
    }
    return list;
}

void OnboardingModel::recheck() {
    if (!m_session || m_checking)
        return;
    m_checking = true;
    Permissions* permissions = &m_session->permissions();
    // The checks ask the sound server and may take a moment.
    runInBackground(
        this, [permissions] { return permissions->check(); },
        [this](const Permissions::Report& report) { applyReport(report); });
}

void OnboardingModel::applyReport(const Permissions::Report& report) {
    m_checking = false;
    if (!(report == m_report)) {
        m_report = report;
        emit permissionsChanged();
    }
    emit checked();
}

void OnboardingModel::openSettings(int row) {
    if (row == 0 || row == 1)
        openSoundSettings();
    recheck();
}

void OnboardingModel::test(int row) {
    m_proof->test(row, m_settings ? m_settings->deviceUID() : QString());
}

void OnboardingModel::setMicLevel(double level) {
    if (!assignIfChanged(m_micLevel, level))
        return;
    emit micLevelChanged();
}

QString OnboardingModel::cvSymbol() const {
    return m_settings && !m_settings->contextFileNames().isEmpty() ? Symbols::granted()
                                                                   : Symbols::addDocument();
}

QString OnboardingModel::cvDetail() const {
    if (m_settings && !m_settings->contextFileNames().isEmpty())
        return m_settings->contextFileNames().join(QStringLiteral(", "));
    return QStringLiteral("PDF, Markdown or text — load the fullest version you have");
}

QStringList OnboardingModel::fileFilters() {
    return {QStringLiteral("Documents (*.txt *.md *.markdown *.text *.pdf *.rtf)")};
}

QString OnboardingModel::documentationText() {
    return QStringLiteral("More in “First steps” of the README: what to check when the cards "
                          "stay empty.");
}

QString OnboardingModel::documentationUrl() {
    return QStringLiteral(CORVINEL_DOCUMENTATION_URL);
}

QString OnboardingModel::documentationLink() {
    return QStringLiteral("<a href=\"") + documentationUrl().toHtmlEscaped() +
           QStringLiteral("\">") + documentationText().toHtmlEscaped() + QStringLiteral("</a>");
}

QString OnboardingModel::headerSymbol() {
    return Symbols::sparkles();
}

void OnboardingModel::loadDocuments(const QStringList& paths) {
    m_importer.import(paths);
}
