// Release signatures: the key files the release server's keygen makes, and which signatures the program
// accepts over an archive's bytes.

#include "update/ReleaseSignature.h"

#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#ifdef _WIN32
// Makes QFileInfo read a file's access list instead of its read-only attribute alone.
extern Q_CORE_EXPORT int qt_ntfs_permission_lookup;
#endif

namespace {

struct KeyPair
{
    release::PublicKey publicKey{};
    std::unique_ptr<release::SecretKey> secretKey = std::make_unique<release::SecretKey>();
};

std::string_view view(const QByteArray& bytes)
{
    return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

QByteArray signatureOf(const QByteArray& message, const KeyPair& pair)
{
    return QByteArray::fromStdString(release::sign(view(message), *pair.secretKey));
}

} // namespace

class TestReleaseSignature : public QObject
{
    Q_OBJECT

    QTemporaryDir folder_;
    KeyPair release_, other_;

    static int keygen(const QString& path, QByteArray& output)
    {
        QProcess process;
        process.start(QStringLiteral(QUILLMARK_RELEASE_SERVER), {QStringLiteral("keygen"), path});
        if (!process.waitForFinished(10000))
            return -1;
        output = process.readAllStandardOutput();
        return process.exitCode();
    }

  private slots:
    void initTestCase()
    {
        QVERIFY(release::generateKeyPair(release_.publicKey, *release_.secretKey));
        QVERIFY(release::generateKeyPair(other_.publicKey, *other_.secretKey));
    }

    // The secret key file is its owner's alone from the start, the public key is printed and written beside
    // it, both read back as the same pair, and an existing key file is never replaced.
    void keygenWritesAKeyPair()
    {
        const QString path = folder_.filePath(QStringLiteral("release.key"));
        QByteArray printed;
        QCOMPARE(keygen(path, printed), 0);
#ifdef _WIN32
        printed.replace("\r\n", "\n"); // standard output in text mode ends its lines with CR LF
#else
        QCOMPARE(QFileInfo(path).permissions() & ~(QFile::ReadUser | QFile::WriteUser),
                 QFile::ReadOwner | QFile::WriteOwner);
#endif
        QFile publicFile(path + QStringLiteral(".pub"));
        QVERIFY(publicFile.open(QIODevice::ReadOnly));
        QCOMPARE(publicFile.readAll(), printed);
        QCOMPARE(printed.size(), 65);

        release::PublicKey publicKey{};
        release::SecretKey secretKey;
        QCOMPARE(release::readPublicKeyFile(QFile::encodeName(path).toStdString() + ".pub", publicKey),
                 std::string());
        QCOMPARE(release::readSecretKeyFile(QFile::encodeName(path).toStdString(), secretKey), std::string());
        QCOMPARE(QByteArray::fromStdString(release::toHex(publicKey)), printed.trimmed());
        const QByteArray message = "archive bytes";
        QVERIFY(release::signatureValid(view(message), release::sign(view(message), secretKey), {publicKey}));

        QFile secretFile(path);
        QVERIFY(secretFile.open(QIODevice::ReadOnly));
        const QByteArray secret = secretFile.readAll();
        QByteArray again;
        QCOMPARE(keygen(path, again), 1);
        QCOMPARE(again, QByteArray());
        QVERIFY(secretFile.seek(0));
        QCOMPARE(secretFile.readAll(), secret);
#ifdef _WIN32
        // Here the file's access list decides: it names the owner alone (full access, hence execute too).
        // Wine cannot tell the rights an access list grants (its GetEffectiveRightsFromAcl is a stub).
        if (QLibrary::resolve(QStringLiteral("ntdll"), "wine_get_version"))
            QSKIP("Wine does not report the rights that a file's access list grants");
        ++qt_ntfs_permission_lookup;
        const QFile::Permissions permissions = QFileInfo(path).permissions();
        --qt_ntfs_permission_lookup;
        QCOMPARE(permissions & (QFile::ReadOwner | QFile::WriteOwner), QFile::ReadOwner | QFile::WriteOwner);
        QCOMPARE(permissions & (QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther |
                                QFile::WriteOther | QFile::ExeOther),
                 QFile::Permissions());
#endif
    }

    // A secret key file whose public half does not follow from its seed would sign releases no program
    // accepts; it is refused, as is any file that holds no key.
    void refusesDamagedKeyFiles_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("secret"); // read as a secret key file, else as a public one
        const QByteArray secretHex =
            QByteArray::fromStdString(release::toHex(release_.publicKey)); // 64 digits
        QTest::newRow("secret key with another public half")
            << QByteArray(64, '1') + QByteArray::fromStdString(release::toHex(other_.publicKey)) + '\n'
            << true;
        QTest::newRow("secret key cut short") << QByteArray(127, 'a') << true;
        QTest::newRow("public key with a stray character") << secretHex.left(63) + 'x' << false;
        QTest::newRow("public key too long") << secretHex + "00" << false;
        QTest::newRow("empty public key file") << QByteArray() << false;
    }
    void refusesDamagedKeyFiles()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, secret);
        const QString path = folder_.filePath(QStringLiteral("damaged"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
        file.close();
        release::PublicKey publicKey{};
        release::SecretKey secretKey;
        const std::string error =
            secret ? release::readSecretKeyFile(QFile::encodeName(path).toStdString(), secretKey)
                   : release::readPublicKeyFile(QFile::encodeName(path).toStdString(), publicKey);
        QVERIFY(!error.empty());
    }

    // Only a signature by a listed key over exactly these bytes passes.
    void acceptsOnlyAGoodSignature_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QByteArray>("signature");
        QTest::addColumn<bool>("trustsOtherKeyToo");
        QTest::addColumn<bool>("valid");
        const QByteArray archive = "PK\x03\x04 a release archive";
        const QByteArray good = signatureOf(archive, release_);
        QByteArray flipped = good;
        flipped[10] = static_cast<char>(flipped[10] ^ 0x01);
        QTest::newRow("signed with the release key") << archive << good << false << true;
        QTest::newRow("release key listed second") << archive << good << true << true;
        QTest::newRow("signed with another key") << archive << signatureOf(archive, other_) << false << false;
        QTest::newRow("one byte of the archive changed")
            << QByteArray(archive).replace("release", "Release") << good << false << false;
        QTest::newRow("archive cut short") << archive.left(archive.size() - 1) << good << false << false;
        QTest::newRow("archive grown") << archive + '\0' << good << false << false;
        QTest::newRow("one bit of the signature changed") << archive << flipped << false << false;
        QTest::newRow("signature cut short") << archive << good.left(63) << false << false;
        QTest::newRow("signature with a byte more") << archive << good + 'x' << false << false;
        QTest::newRow("no signature") << archive << QByteArray() << false << false;
        QTest::newRow("empty archive, its own signature")
            << QByteArray() << signatureOf({}, release_) << false << true;
    }
    void acceptsOnlyAGoodSignature()
    {
        QFETCH(QByteArray, message);
        QFETCH(QByteArray, signature);
        QFETCH(bool, trustsOtherKeyToo);
        QFETCH(bool, valid);
        std::vector<release::PublicKey> keys{release_.publicKey};
        if (trustsOtherKeyToo)
            keys.insert(keys.begin(), other_.publicKey);
        QCOMPARE(release::signatureValid(view(message), view(signature), keys), valid);
    }
};

QTEST_GUILESS_MAIN(TestReleaseSignature)
#include "tst_releasesignature.moc"
