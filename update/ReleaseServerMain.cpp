// quillmark-release-server: publishes releases into a folder and serves them to the program's update check.

#include "update/ReleaseServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QTextStream>

#include <cstdio>

namespace {

const char kUsage[] =
    "usage: quillmark-release-server serve RELEASE_FOLDER [--port N] [--listen ADDRESS]\n"
    "       quillmark-release-server publish --key KEYFILE [--version V] RELEASE_FOLDER FILE...\n"
    "       quillmark-release-server keygen KEYFILE\n"
    "serve:   answers the version request (POST /version) and sends the archive (GET /Quillmark.zip)\n"
    "         with its signed description (GET /Quillmark.release) and signature (GET\n"
    "         /Quillmark.zip.sig); port 80 and every address unless told otherwise. Port 0 picks a\n"
    "         free port.\n"
    "publish: packs the files, the program's executable among them, into RELEASE_FOLDER/Quillmark.zip\n"
    "         and signs it with the secret key in KEYFILE: RELEASE_FOLDER/Quillmark.release names the\n"
    "         version (V, or the one the executable records; programs install only newer versions),\n"
    "         RELEASE_FOLDER/Quillmark.zip.sig serves programs of 7.0 and before.\n"
    "keygen:  makes a signing key pair: the secret key in the new file KEYFILE (readable by its owner\n"
    "         only), the public key in KEYFILE.pub and on standard output, for the program's build.\n";

int usageError()
{
    std::fputs(kUsage, stderr);
    return 2;
}

int serve(const QString& folder, const QStringList& options)
{
    QHostAddress address = QHostAddress::Any;
    int port = 80;
    for (int i = 0; i < options.size(); i += 2) {
        if (i + 1 >= options.size())
            return usageError();
        bool number = true;
        if (options[i] == QLatin1String("--port"))
            port = options[i + 1].toInt(&number);
        else if (options[i] != QLatin1String("--listen") || !address.setAddress(options[i + 1]))
            return usageError();
        if (!number || port < 0 || port > 65535)
            return usageError();
    }
    if (!QDir(folder).exists()) {
        std::fprintf(stderr, "no such folder: %s\n", qPrintable(folder));
        return 1;
    }
    ReleaseServer server(folder);
    if (!server.listen(address, static_cast<quint16>(port))) {
        std::fprintf(stderr, "cannot listen: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    QTextStream(stdout) << "Serving " << QDir(folder).absolutePath() << " at http://" << address.toString()
                        << ':' << server.port() << "/" << Qt::endl;
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.size() < 2)
        return usageError();
    if (arguments[0] == QLatin1String("serve"))
        return serve(arguments[1], arguments.mid(2));
    QString error;
    if (arguments[0] == QLatin1String("publish") && arguments.size() >= 5 &&
        arguments[1] == QLatin1String("--key")) {
        QStringList rest = arguments.mid(3);
        QString version;
        if (rest.size() >= 4 && rest[0] == QLatin1String("--version")) {
            version = rest[1];
            rest = rest.mid(2);
            if (version.isEmpty())
                return usageError();
        }
        if (rest.size() < 2)
            return usageError();
        error = ReleaseServer::publish(rest[0], rest.mid(1), arguments[2], version);
    } else if (arguments[0] == QLatin1String("keygen") && arguments.size() == 2) {
        QString publicKey;
        error = ReleaseServer::keygen(arguments[1], publicKey);
        if (error.isEmpty())
            QTextStream(stdout) << publicKey << Qt::endl;
    } else {
        return usageError();
    }
    if (error.isEmpty())
        return 0;
    std::fprintf(stderr, "%s\n", qPrintable(error));
    return 1;
}
