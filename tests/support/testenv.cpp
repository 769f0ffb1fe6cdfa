#include "testenv.h"

#include "app/appcore.h"
#include "platform/paths.h"

#include <QFile>
#include <QTest>

namespace {

const char* const ProxyVariables[] = {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                      "all_proxy",  "ALL_PROXY",  "no_proxy",    "NO_PROXY"};

} // namespace

TTestEnvironment::TTestEnvironment(TProxy proxy) {
    for (const char* name : ProxyVariables) {
        m_savedProxies.append({name, qEnvironmentVariableIsSet(name)
                                         ? std::optional<QByteArray>(qgetenv(name))
                                         : std::nullopt});
        qunsetenv(name);
    }
    if (proxy == TProxy::Simulator)
        qputenv("http_proxy", m_sim.Origin().toLatin1());
    TPaths::SetWorkDir(m_dir.path());
}

TTestEnvironment::~TTestEnvironment() {
    StopCore();
    for (const auto& [name, value] : m_savedProxies) {
        if (value)
            qputenv(name.constData(), *value);
        else
            qunsetenv(name.constData());
    }
}

void TTestEnvironment::WriteServiceIni(const QByteArray& text) const {
    QFile file(File(QStringLiteral("service.ini")));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(text), text.size());
}

TAppCore& TTestEnvironment::Core() {
    if (!m_core) {
        TPaths::SetWorkDir(m_dir.path());
        m_core = std::make_unique<TAppCore>();
        const TStatus started = m_core->Startup();
        if (!started)
            QTest::qFail(qPrintable(QStringLiteral("the core did not start: ") + started.error().Detail),
                         __FILE__, __LINE__);
    }
    return *m_core;
}

void TTestEnvironment::StopCore() {
    if (m_core)
        (void)m_core->Shutdown();
    m_core.reset();
}
