#pragma once

class AppSettings;
class JobContextModel;
class QObject;
class SessionController;

// A job editor over these settings: its save button applies the instructions to this session,
// its label follows whether the session runs, and its Paste reads the clipboard.
JobContextModel* makeJobContextModel(AppSettings& settings, SessionController& session,
                                     QObject* parent);
