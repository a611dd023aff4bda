#pragma once
// Catches what the program hands to the desktop's link handler for the given schemes, for as
// long as it lives.
#include <QList>
#include <QObject>
#include <QStringList>
#include <QUrl>

namespace yunshan::test {

class UrlCatcher : public QObject {
    Q_OBJECT
  public:
    explicit UrlCatcher(const QStringList &schemes = {QStringLiteral("https")});
    ~UrlCatcher() override;

    QList<QUrl> urls;

  public Q_SLOTS:
    void open(const QUrl &url) { urls.append(url); }

  private:
    QStringList schemes_;
};

} // namespace yunshan::test
