#pragma once
// The version check against the update server: the request paths, the request itself (on the
// worker's thread, with a client of its own) and the reading of the server's answer.
#include <QString>

#include <functional>

namespace yunshan {

class SettingsStore;

// Version number this program reports to the update server.
inline constexpr int kUpdateVersionNumber = 54;

// The update server: the settings value "update_server" when not empty ("https://" put in front
// when it names no scheme; an "http://" address typed there is used as typed), else the server
// of this build when it is an https address. Empty: no update server, no check. Redirects from
// https to http are never followed (HttpClient), so the requests stay on https.
QString update_server_address(const SettingsStore &settings);

// "<server>/abc/ver.php?p=20&v=54" and "<server>/abc/dl2.php?p=20&v=664312".
QString version_check_url(const QString &server);
QString package_url(const QString &server);

// Which run of the worker asks for the version: the start-up run (start page, check, deferred
// settings step) or a manual check from "检查更新" (the check alone, its answer always shown).
enum class UpdateCheckRun { StartUp, Manual };

// What came of a version request.
struct VersionReply {
    enum class Status { Answered, NoServer, Failed };
    Status status = Status::NoServer;
    QString text;           // the answer, decoded as UTF-8 (Answered)
    QString error;          // why it failed (Failed)
    bool cancelled = false; // Failed because the worker was asked to stop
};

// GETs the version-check path with a client of its own (no credentials, redirects followed but
// never from https to http). A transport failure, an answer other than 2xx, or no answer within
// `timeout_seconds` gives Failed; so does `stop` turning true meanwhile (checked about every
// 50 ms).
VersionReply fetch_version_reply(const QString &server, const std::function<bool()> &stop, int timeout_seconds = 30);

// The markers of an answer.
struct UpdateAnswer {
    bool forced = false; // "low>": the text is shown, then the update is installed
    QString forced_text;
    bool optional = false; // "pop>": notice, and the question whether to download
    QString optional_text;
    QString question;    // optional_text + "，是否下载新程序？"
    bool notice = false; // "<msg>…</msg><url>…</url><tip>…</tip>"
    QString notice_text;
    QString notice_url; // empty unless an http or https address
    QString notice_tip;
};
UpdateAnswer parse_update_reply(const QString &reply);

// Whether a link from the server may be opened: an absolute http or https address with a host.
bool is_web_link(const QString &url);

// Texts of the update.
QString update_notice_hint();    // "有新版本可以下载，点此立即下载。"
QString update_latest_text();    // "当前已经是最新版本。"
QString update_no_server_text(); // a check from the menu with no update server
// The program's folder cannot be written (a package manager installed it): no update here.
QString update_not_writable_text();
QString update_check_failed_text(const QString &error);

} // namespace yunshan
