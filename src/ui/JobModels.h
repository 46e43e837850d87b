#pragma once

class AppSettings;
class JobContextModel;
class QObject;
class SessionController;

// A job editor over these settings: its save button applies the instructions to this session,
// its label follows whether the session runs, and its Paste reads the clipboard. Replaces
// `current`, which goes later so that views bound to it move to the new one first; nothing
// while the settings or the session is missing.
JobContextModel* renewJobContextModel(JobContextModel* current, AppSettings* settings,
                                      SessionController* session, QObject* parent);
