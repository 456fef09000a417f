#pragma once
// Shared set-up of the window tests: a temporary folder that is both the
// program folder and the current directory (holding the page client's
// identity), the configuration restored afterwards, and a small HTTPS site
// whose three reference answers each test chooses.

#include "core/config.h"
#include "core/platform.h"
#include "net/page_client.h"
#include "support/https_server.h"
#include "support/log_lines.h"
#include "support/print_qstring.h"
#include "support/test_certs.h"
#include "ui/main_form.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <ostream>
#include <string>
#include <thread>

inline const QString kLoadingLine = QStringLiteral("Загружаем города и категории с сайта...");
inline const QString kReadyLine =
    QStringLiteral("Всё готово к работе, выделите нужные города и категории");

inline QStringList Rows(const QListWidget* list) {
    QStringList rows;
    for (int i = 0; i < list->count(); ++i)
        rows << list->item(i)->text();
    return rows;
}

inline QStringList Selected(const QListWidget* list) {
    QStringList rows;
    for (int i = 0; i < list->count(); ++i) {
        if (list->item(i)->isSelected())
            rows << list->item(i)->text();
    }
    return rows;
}

inline QStringList LogLines(const TMainForm& form) {
    return LogLines(form.LogsMemo);
}

// Runs reference loading now instead of a second after creation.
inline void Load(TMainForm& form) {
    form.Timer1->stop();
    form.Timer1Timer();
}

class UiTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedConfig_ = Config();
        previousDir_ = QDir::currentPath();
        ASSERT_TRUE(folder_.isValid());
        SetProgramFolder(folder_.path());
        ASSERT_TRUE(QDir::setCurrent(folder_.path()));
        const TestPki& pki = TestCertificates();
        ASSERT_TRUE(QFile::copy(QString::fromStdString(pki.clientCert),
                                QString::fromLatin1(TPageClient::kCertFile)));
        ASSERT_TRUE(QFile::copy(QString::fromStdString(pki.clientKey),
                                QString::fromLatin1(TPageClient::kKeyFile)));
    }
    void TearDown() override {
        QDir::setCurrent(previousDir_);
        SetProgramFolder(QString());
        Config() = savedConfig_;
        // A failed test must not leave the wait cursor to the next one.
        while (QApplication::overrideCursor() != nullptr)
            QApplication::restoreOverrideCursor();
    }

    // The window, with its loading timer stopped: tests call Load().
    std::unique_ptr<TMainForm> NewForm() {
        auto form = std::make_unique<TMainForm>();
        form->Timer1->stop();
        return form;
    }

    QString PathOf(const QString& name) const { return folder_.filePath(name); }
    void PutFile(const QString& name, const QByteArray& bytes) {
        QFile file(PathOf(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }
    QByteArray FileBytes(const QString& name) const {
        QFile file(PathOf(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    // A folder where a file is expected: it can be neither read nor written.
    void PutFolder(const QString& name) { ASSERT_TRUE(QDir(folder_.path()).mkdir(name)); }

    QTemporaryDir folder_;
    QString previousDir_;
    AppConfig savedConfig_;
};

// One answer of the controlled site.
struct Reply {
    int status = 200;
    std::string body;
    int delayMs = 0; // the answer comes this late
};

// The professionals page: the state script carries `stateJson` with every
// double quote written as \".
inline std::string ProfessionalsPage(const std::string& stateJson) {
    std::string escaped;
    for (const char c : stateJson) {
        if (c == '"')
            escaped += '\\';
        escaped += c;
    }
    return "<!doctype html><html><head><title>Специалисты</title></head><body>"
           "<script>window.__INITIAL_STATE__ = JSON.parse(\"" +
           escaped + "\");</script></body></html>";
}

inline std::string CategoriesState(const std::string& categories) {
    return R"({"page":"professionals","categoriesData":{"categories":[)" + categories +
           R"(],"popular":[1,2],"total":2},"footer":{"links":[]}})";
}

inline std::string Resources(const std::string& items) {
    return R"({"resources":[)" + items + R"(],"total":0})";
}

// A small site: two categories (numeric and text id), three cities (with a
// region, a null region, no region) and two regions, one named like a city.
struct SiteAnswers {
    Reply professionals{200,
                        ProfessionalsPage(CategoriesState(
                            R"({"id":101,"name":"Сантехники","slug":"santehniki","count":3},)"
                            R"({"id":"a1b2c3","name":"Электрики","slug":"elektriki","count":5})"))};
    Reply cities{
        200, Resources(R"({"id":1,"name":"Москва","region":{"id":7,"name":"Московская область"}},)"
                       R"({"id":2,"name":"Севастополь","region":null},)"
                       R"({"id":3,"name":"Байконур"})")};
    Reply regions{200,
                  Resources(R"({"id":7,"name":"Московская область"},{"id":9,"name":"Байконур"})")};
};

inline const QStringList kSmallCategoryRows{QStringLiteral("Сантехники (santehniki)"),
                                            QStringLiteral("Электрики (elektriki)")};
inline const QStringList kSmallCityRows{
    QStringLiteral("Москва--Московская область"), QStringLiteral("Севастополь--"),
    QStringLiteral("Байконур"), QStringLiteral("Московская область"), QStringLiteral("Байконур")};

// Serves the web host's professionals page and the API host's two reference
// lists from one LocalHttpsServer, and points the configuration at it.
class ControlledSite {
public:
    explicit ControlledSite(const SiteAnswers& answers = {}) {
        Serve("/professionals", answers.professionals, hits_[0]);
        Serve("/api/v2/reference/cities", answers.cities, hits_[1]);
        Serve("/api/v2/reference/regions", answers.regions, hits_[2]);
        server_.Start();
        Config().WebHost = QString::fromStdString(server_.HostPort());
        Config().ApiHost = Config().WebHost;
        Config().CaFile = QString::fromStdString(TestCertificates().caCert);
    }

    int ProfessionalsHits() const { return hits_[0].load(); }
    int CitiesHits() const { return hits_[1].load(); }
    int RegionsHits() const { return hits_[2].load(); }

private:
    void Serve(const char* path, const Reply& reply, std::atomic<int>& hits) {
        server_.Routes().Get(path, [reply, &hits](const httplib::Request&, httplib::Response& res) {
            ++hits;
            if (reply.delayMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(reply.delayMs));
            res.status = reply.status;
            res.set_content(reply.body, "text/html; charset=utf-8");
        });
    }

    std::atomic<int> hits_[3]{};
    LocalHttpsServer server_;
};
