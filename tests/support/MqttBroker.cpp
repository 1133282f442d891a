#include "MqttBroker.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testing_support {

namespace {

bool writeText(const QString& path, const QByteArray& text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

bool acceptsConnections(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

// Runs a command to its end (at most 30 s); its output goes to `log`.
bool run(const QString& program, const QStringList& arguments, const QString& directory, QString& log)
{
    QProcess process;
    process.setWorkingDirectory(directory);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool finished = process.waitForStarted(10000) && process.waitForFinished(30000);
    log += QStringLiteral("$ %1 %2\n%3").arg(program, arguments.join(QLatin1Char(' ')),
                                              QString::fromLocal8Bit(process.readAll()));
    if (!finished) {
        process.kill();
        process.waitForFinished(5000);
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

} // namespace

int freeLocalPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = 0;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

MqttBroker::MqttBroker() : MqttBroker(Options{}) {}

MqttBroker::MqttBroker(Options options) : options_(std::move(options))
{
    port_ = freeLocalPort();
    if (options_.tls) {
        do
            tlsPort_ = freeLocalPort();
        while (tlsPort_ == port_);
    }
}

MqttBroker::~MqttBroker()
{
    if (process_ && process_->state() != QProcess::NotRunning) {
        process_->kill();
        process_->waitForFinished(5000);
    }
}

bool MqttBroker::writeConfiguration()
{
    if (!dir_.isValid()) {
        log_ += QStringLiteral("no temporary directory: %1\n").arg(dir_.errorString());
        return false;
    }
    QByteArray conf;
    // As root, mosquitto 2 would switch to the user "mosquitto", which cannot read our files.
    if (::geteuid() == 0)
        conf += "user root\n";
    if (options_.keepSessions) {
        conf += "persistence true\n";
        conf += "persistence_location " + QFile::encodeName(dir_.path()) + "/\n";
    } else {
        conf += "persistence false\n";
    }
    conf += "log_dest stdout\n";
    conf += "log_type error\nlog_type warning\nlog_type notice\nlog_type information\n";
    conf += "per_listener_settings false\n";
    conf += "listener " + QByteArray::number(port_) + " 127.0.0.1\n";
    if (options_.tls) {
        conf += "listener " + QByteArray::number(tlsPort_) + " 127.0.0.1\n";
        conf += "certfile " + QFile::encodeName(options_.tls->certFile) + "\n";
        conf += "keyfile " + QFile::encodeName(options_.tls->keyFile) + "\n";
    }
    if (options_.users.empty()) {
        conf += "allow_anonymous true\n";
    } else {
        const QString passwords = dir_.filePath(QStringLiteral("passwords"));
        if (!writeText(passwords, QByteArray()))
            return false;
        for (const auto& [user, password] : options_.users) {
            if (!run(QStringLiteral("mosquitto_passwd"), {QStringLiteral("-b"), passwords, user, password}, dir_.path(), log_))
                return false;
        }
        conf += "allow_anonymous false\n";
        conf += "password_file " + QFile::encodeName(passwords) + "\n";
    }
    log_ += QStringLiteral("mosquitto.conf:\n%1").arg(QString::fromUtf8(conf));
    return writeText(dir_.filePath(QStringLiteral("mosquitto.conf")), conf);
}

bool MqttBroker::start()
{
    if (isRunning())
        return true;
    if (port_ == 0 || (options_.tls && tlsPort_ == 0)) {
        log_ += QStringLiteral("no free port\n");
        return false;
    }
    if (!QFile::exists(dir_.filePath(QStringLiteral("mosquitto.conf"))) && !writeConfiguration())
        return false;

    process_ = std::make_unique<QProcess>();
    process_->setProcessChannelMode(QProcess::MergedChannels);
    process_->setWorkingDirectory(dir_.path());
    process_->start(QStringLiteral("/usr/sbin/mosquitto"), {QStringLiteral("-c"), dir_.filePath(QStringLiteral("mosquitto.conf"))});
    if (!process_->waitForStarted(10000)) {
        log_ += QStringLiteral("mosquitto did not start: %1\n").arg(process_->errorString());
        return false;
    }
    // A port held in TIME_WAIT by the previous run is no obstacle (mosquitto sets SO_REUSEADDR),
    // but the listeners take a moment to appear.
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        if (process_->state() == QProcess::NotRunning || process_->waitForFinished(0)) {
            log_ += QString::fromLocal8Bit(process_->readAll());
            log_ += QStringLiteral("mosquitto ended at start (exit code %1)\n").arg(process_->exitCode());
            return false;
        }
        if (acceptsConnections(port_) && (!options_.tls || acceptsConnections(tlsPort_)))
            return true;
        QThread::msleep(20);
    }
    log_ += QString::fromLocal8Bit(process_->readAll());
    log_ += QStringLiteral("mosquitto did not listen within 10 s\n");
    return false;
}

void MqttBroker::stop()
{
    if (!process_)
        return;
    if (process_->state() != QProcess::NotRunning) {
        resume(); // a frozen broker would not see SIGTERM
        process_->terminate();
        if (!process_->waitForFinished(5000)) {
            process_->kill();
            process_->waitForFinished(5000);
        }
    }
    log_ += QString::fromLocal8Bit(process_->readAll());
    process_.reset();
}

void MqttBroker::kill()
{
    if (!process_)
        return;
    if (process_->state() != QProcess::NotRunning) {
        process_->kill();
        process_->waitForFinished(5000);
    }
    log_ += QString::fromLocal8Bit(process_->readAll());
    process_.reset();
}

void MqttBroker::pause()
{
    if (isRunning())
        ::kill(static_cast<pid_t>(process_->processId()), SIGSTOP);
}

void MqttBroker::resume()
{
    if (isRunning())
        ::kill(static_cast<pid_t>(process_->processId()), SIGCONT);
}

bool MqttBroker::isRunning() const
{
    return process_ && process_->state() == QProcess::Running;
}

QString MqttBroker::log() const
{
    QString text = log_;
    if (process_)
        text += QString::fromLocal8Bit(process_->readAll());
    return text;
}

TestCertificates makeTestCertificates(const QString& directory)
{
    TestCertificates files;
    const QDir dir(directory);
    auto path = [&](const char* name) { return dir.filePath(QString::fromLatin1(name)); };
    files.caFile = path("ca.pem");
    files.otherCaFile = path("other-ca.pem");
    files.serverCertFile = path("server.pem");
    files.serverKeyFile = path("server.key");
    files.expiredServerCertFile = path("server-expired.pem");
    files.wrongNameServerCertFile = path("server-wrong-name.pem");

    QString log;
    const QString openssl = QStringLiteral("openssl");
    const QStringList ecKey = {QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                               QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
    auto makeCa = [&](const QString& key, const QString& cert, const QString& name) {
        return run(openssl,
                   QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + ecKey
                       + QStringList{QStringLiteral("-keyout"), key, QStringLiteral("-out"), cert, QStringLiteral("-days"),
                                     QStringLiteral("3650"), QStringLiteral("-subj"), QStringLiteral("/CN=") + name},
                   directory, log);
    };
    // The names go into the certificate through an extension file: `openssl x509 -req` does not
    // copy them from the request.
    const QByteArray extensions = "subjectAltName=DNS:localhost,IP:127.0.0.1\n"
                                  "basicConstraints=CA:FALSE\n"
                                  "keyUsage=digitalSignature,keyEncipherment\n"
                                  "extendedKeyUsage=serverAuth\n";
    // `openssl x509` cannot back-date a certificate; `openssl ca` can, with this small setup.
    const QByteArray caConf = "[ca]\ndefault_ca=test\n"
                              "[test]\ndatabase=index.txt\nserial=serial.txt\nnew_certs_dir=.\n"
                              "certificate=ca.pem\nprivate_key=ca.key\ndefault_md=sha256\n"
                              "policy=anything\nunique_subject=no\ncopy_extensions=none\n"
                              "[anything]\ncommonName=supplied\n"
                              "[server]\n"
        + extensions;
    const bool ok = makeCa(path("ca.key"), files.caFile, QStringLiteral("ZENTLOG test CA"))
                    && makeCa(path("other-ca.key"), files.otherCaFile, QStringLiteral("Unrelated test CA"))
                    && run(openssl,
                           QStringList{QStringLiteral("req"), QStringLiteral("-new")} + ecKey
                               + QStringList{QStringLiteral("-keyout"), files.serverKeyFile, QStringLiteral("-out"),
                                             path("server.csr"), QStringLiteral("-subj"), QStringLiteral("/CN=localhost")},
                           directory, log)
                    && writeText(path("server.ext"), extensions)
                    && run(openssl,
                           {QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), path("server.csr"),
                            QStringLiteral("-CA"), files.caFile, QStringLiteral("-CAkey"), path("ca.key"),
                            QStringLiteral("-CAcreateserial"), QStringLiteral("-days"), QStringLiteral("365"),
                            QStringLiteral("-extfile"), path("server.ext"), QStringLiteral("-out"), files.serverCertFile},
                           directory, log)
                    && writeText(path("elsewhere.ext"), "subjectAltName=DNS:elsewhere.example\n"
                                                         "extendedKeyUsage=serverAuth\n")
                    && run(openssl,
                           {QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), path("server.csr"),
                            QStringLiteral("-CA"), files.caFile, QStringLiteral("-CAkey"), path("ca.key"),
                            QStringLiteral("-CAcreateserial"), QStringLiteral("-days"), QStringLiteral("365"),
                            QStringLiteral("-subj"), QStringLiteral("/CN=elsewhere.example"), QStringLiteral("-extfile"),
                            path("elsewhere.ext"), QStringLiteral("-out"), files.wrongNameServerCertFile},
                           directory, log)
                    && writeText(path("ca.cnf"), caConf) && writeText(path("index.txt"), QByteArray())
                    && writeText(path("serial.txt"), "1000\n")
                    && run(openssl,
                           {QStringLiteral("ca"), QStringLiteral("-batch"), QStringLiteral("-config"), path("ca.cnf"),
                            QStringLiteral("-extensions"), QStringLiteral("server"), QStringLiteral("-startdate"),
                            QStringLiteral("20200101000000Z"), QStringLiteral("-enddate"), QStringLiteral("20201231000000Z"),
                            QStringLiteral("-in"), path("server.csr"), QStringLiteral("-out"), files.expiredServerCertFile},
                           directory, log);
    if (!ok)
        files.error = log.isEmpty() ? QStringLiteral("the certificates could not be made") : log;
    return files;
}

} // namespace testing_support
