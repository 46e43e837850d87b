#pragma once

#include "base/Wiring.h"
#include "context/JobContextModel.h"
#include "platform/Platform.h"
#include "session/SessionController.h"
#include "settings/AppSettings.h"
#include "ui/ContextImporter.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

class CaptureProof;

// The first-launch walkthrough: which step shows and what it says, the footer's buttons, the
// permission rows (checked again every 2 s while it shows), the CV import and the end of it.
// Finishing, skipping and closing all mark it completed, so it shows once.
class OnboardingModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(AppSettings* settings READ settings WRITE setSettings NOTIFY settingsChanged)
    Q_PROPERTY(SessionController* session READ session WRITE setSession NOTIFY sessionChanged)
    Q_PROPERTY(JobContextModel* job READ job NOTIFY jobChanged)
    Q_PROPERTY(bool shown READ shown NOTIFY shownChanged)

    Q_PROPERTY(int step READ step NOTIFY stepChanged)
    Q_PROPERTY(QString title READ title NOTIFY stepChanged)
    Q_PROPERTY(QString position READ position NOTIFY stepChanged)
    Q_PROPERTY(QStringList dotColors READ dotColors NOTIFY stepChanged)
    Q_PROPERTY(QString intro READ intro NOTIFY stepChanged)
    Q_PROPERTY(QString introDetail READ introDetail NOTIFY stepChanged)
    Q_PROPERTY(QVariantList rows READ rows NOTIFY stepChanged)
    Q_PROPERTY(bool showsPermissions READ showsPermissions NOTIFY stepChanged)
    Q_PROPERTY(bool showsContext READ showsContext NOTIFY stepChanged)
    Q_PROPERTY(bool showsDocumentation READ showsDocumentation NOTIFY stepChanged)
    Q_PROPERTY(bool backVisible READ backVisible NOTIFY stepChanged)
    Q_PROPERTY(bool skipVisible READ skipVisible NOTIFY stepChanged)
    Q_PROPERTY(QString primaryLabel READ primaryLabel NOTIFY stepChanged)

    Q_PROPERTY(QVariantList permissions READ permissions NOTIFY permissionsChanged)
    Q_PROPERTY(double micLevel READ micLevel NOTIFY micLevelChanged)

    Q_PROPERTY(QString cvSymbol READ cvSymbol NOTIFY contextChanged)
    Q_PROPERTY(QString cvDetail READ cvDetail NOTIFY contextChanged)
    Q_PROPERTY(QString chooserTitle READ chooserTitle CONSTANT)
    Q_PROPERTY(QStringList fileFilters READ fileFilters CONSTANT)
    Q_PROPERTY(QString documentationLink READ documentationLink CONSTANT)
    Q_PROPERTY(QString headerSymbol READ headerSymbol CONSTANT)

public:
    enum class Step { welcome, permissions, context, ready };
    Q_ENUM(Step)
    static constexpr int stepCount = 4;
    // How often the permission rows are checked again while the walkthrough shows.
    static constexpr int recheckMs = 2000;

    explicit OnboardingModel(QObject* parent = nullptr);
    ~OnboardingModel() override;

    AppSettings* settings() const { return m_settings; }
    void setSettings(AppSettings* settings);
    SessionController* session() const { return m_session; }
    void setSession(SessionController* session);
    JobContextModel* job() const { return m_job; }
    bool shown() const;

    int step() const { return m_step; }
    QString title() const;
    QString position() const;
    QStringList dotColors() const;
    QString intro() const;
    QString introDetail() const;
    QVariantList rows() const;
    bool showsPermissions() const { return m_step == int(Step::permissions); }
    bool showsContext() const { return m_step == int(Step::context); }
    bool showsDocumentation() const { return m_step == int(Step::ready); }
    bool backVisible() const { return m_step > 0; }
    bool skipVisible() const { return m_step < stepCount - 1; }
    QString primaryLabel() const;

    QVariantList permissions() const;
    Permissions::Report report() const { return m_report; }
    double micLevel() const { return m_micLevel; }

    QString cvSymbol() const;
    QString cvDetail() const;
    static QString chooserTitle() { return QStringLiteral("Load CV"); }
    // txt, md, markdown, text, pdf, rtf
    static QStringList fileFilters();
    static QString documentationText();
    static QString documentationUrl();
    // The text as a link to the address, for a rich-text label.
    static QString documentationLink();
    static QString headerSymbol();

    // Moves by `offset` steps, clamped to the first and the last.
    Q_INVOKABLE void move(int offset);
    // "Continue" on every step but the last, "Start using it" there.
    Q_INVOKABLE void primary();
    // Marks the walkthrough completed; it closes.
    Q_INVOKABLE void finish();
    // Checks the three rows again (the rows' "Grant").
    Q_INVOKABLE void recheck();
    // A row's "Settings": the desktop's sound settings for the two capture rows (the speech
    // model has no settings panel; its row only checks again).
    Q_INVOKABLE void openSettings(int row);
    // The rows' "Test": the microphone's live meter (row 0), a tone heard back (row 1).
    Q_INVOKABLE void test(int row);
    // The file chooser's answer.
    Q_INVOKABLE void loadDocuments(const QStringList& paths);

signals:
    void settingsChanged();
    void sessionChanged();
    void jobChanged();
    void shownChanged();
    void stepChanged();
    void permissionsChanged();
    void micLevelChanged();
    void contextChanged();
    // A check of the rows came back (whether or not anything changed).
    void checked();
    // The documents were loaded and the outcome stored or announced.
    void documentsLoaded();

private:
    void setStep(int step);
    void showChanged();
    void applyReport(const Permissions::Report& report);
    void setMicLevel(double level);

    QPointer<AppSettings> m_settings;
    QPointer<SessionController> m_session;
    Wiring m_settingsConnections;
    JobContextModel* m_job = nullptr;
    ContextImporter m_importer{ContextImporter::Style::walkthrough};
    QTimer m_recheck;
    bool m_checking = false;
    bool m_wasShown = false;
    int m_step = 0;
    Permissions::Report m_report;
    double m_micLevel = 0;
    CaptureProof* m_proof = nullptr;
};
