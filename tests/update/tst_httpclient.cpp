// The HTTP client of the version check: the request's bytes, how replies are accepted and read, and that
// no server can hold it past its time limit.

#include "update/HttpClient.h"

#include "UpdateTestServers.h"

#include <QElapsedTimer>
#include <QtTest>

using updatetest::RawReplyServer;

constexpr int kTimeoutMs = 1500;

class TestHttpClient : public QObject
{
    Q_OBJECT

  private slots:
    // One write of the header lines in their order, Content-Length counting the form body behind them.
    void sendsTheRequestByteForByte_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray head = "POST /v1/check?x=1 HTTP/1.0\r\nAccept: */*\r\nUser-Agent: Mozilla/4.0\r\n";
        const QByteArray tail = "Accept-Encoding: gzip, deflate\r\nHost: 127.0.0.1\r\n"
                                "Content-Type: application/x-www-form-urlencoded\r\n"
                                "Connection: Keep-Alive\r\n\r\n";
        QTest::newRow("empty body") << QByteArray() << head + "Content-Length: 0\r\n" + tail;
        const QByteArray form = "a=1&b=%20";
        QTest::newRow("form body") << form << head + "Content-Length: 9\r\n" + tail + form;
    }
    void sendsTheRequestByteForByte()
    {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, expected);
        RawReplyServer server({"HTTP/1.0 200 OK\r\n\r\n"}, 0);
        std::string response;
        QCOMPARE(sendPostRequest("127.0.0.1", "/v1/check?x=1", body.constData(), response,
                                 {server.port(), kTimeoutMs}),
                 int(kHttpOk));
        QCOMPARE(server.finish(), expected);
    }

    // A status line with 200 accepts the reply, nothing else does; the body ends at its Content-Length, the
    // peer's close or the time limit, whichever comes first, and each piece is cut at a NUL.
    void readsReplies_data()
    {
        QTest::addColumn<QByteArrayList>("parts"); // sent apart: the client receives them in separate reads
        QTest::addColumn<int>("holdOpenMs");       // how long the server keeps the connection afterwards
        QTest::addColumn<bool>("endsEarly");       // the reply itself ends the exchange before the time limit
        QTest::addColumn<int>("result");
        QTest::addColumn<QByteArray>("body");
        const int ok = kHttpOk;
        using L = QByteArrayList;
        QTest::newRow("status 200, closed after the body")
            << L{"HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n\r\n{\"Quillmark\":\"x\"}"} << 0
            << true << ok << QByteArray("{\"Quillmark\":\"x\"}");
        QTest::newRow("status 404 without 200 anywhere")
            << L{"HTTP/1.0 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found"} << 0 << true
            << int(kHttpNotAccepted) << QByteArray();
        QTest::newRow("200 only in a header line")
            << L{"HTTP/1.0 404 Not Found\r\nDate: Sat, 01 Jan 2000 00:00:00 GMT\r\n\r\nbody"} << 0 << true
            << int(kHttpNotAccepted) << QByteArray();
        QTest::newRow("200 only in the reason phrase")
            << L{"HTTP/1.0 404 200 OK\r\n\r\nbody"} << 0 << true << int(kHttpNotAccepted) << QByteArray();
        QTest::newRow("status 2000") << L{"HTTP/1.0 2000 OK\r\n\r\nbody"} << 0 << true
                                     << int(kHttpNotAccepted) << QByteArray();
        QTest::newRow("200 without a protocol")
            << L{"200 OK\r\n\r\nbody"} << 0 << true << int(kHttpNotAccepted) << QByteArray();
        QTest::newRow("line ends without CR")
            << L{"HTTP/1.0 200 OK\nServer: x\n\nbody"} << 0 << true << ok << QByteArray("body");
        QTest::newRow("NUL cuts only the piece it arrives in")
            << L{QByteArray("HTTP/1.0 200 OK\r\n\r\nab\0cd", 24), "ef"} << 0 << true << ok
            << QByteArray("abef");
        QTest::newRow("peer closes inside the header block after 200")
            << L{"HTTP/1.0 200 OK\r\nServer: half"} << 0 << true << ok << QByteArray();
        QTest::newRow("peer closes inside the status line")
            << L{"HTTP/1.0 200 O"} << 0 << true << int(kHttpNotAccepted) << QByteArray();
        // Servers that keep the connection open: the reply's length, or else the time limit, ends the read.
        QTest::newRow("empty body, connection kept open")
            << L{"HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n"} << 5000 << true << ok << QByteArray();
        QTest::newRow("body read to its Content-Length, connection kept open")
            << L{"HTTP/1.0 200 OK\r\ncontent-length:  4\r\n\r\nabcd", "more"} << 5000 << true << ok
            << QByteArray("abcd");
        QTest::newRow("no Content-Length, connection kept open")
            << L{"HTTP/1.0 200 OK\r\n\r\nabc"} << 5000 << false << ok << QByteArray("abc");
        QTest::newRow("header block never ends")
            << L{"HTTP/1.0 200 OK\r\nServer: "} << 5000 << false << ok << QByteArray();
    }
    void readsReplies()
    {
        QFETCH(QByteArrayList, parts);
        QFETCH(int, holdOpenMs);
        QFETCH(bool, endsEarly);
        QFETCH(int, result);
        QFETCH(QByteArray, body);
        RawReplyServer server(parts, holdOpenMs);
        std::string response;
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(sendPostRequest("127.0.0.1", "/version", "", response, {server.port(), kTimeoutMs}), result);
        QVERIFY2(clock.elapsed() < kTimeoutMs + 500, "the exchange outlasted its time limit");
        if (endsEarly)
            QVERIFY2(clock.elapsed() < kTimeoutMs - 500, "the client waited for the time limit");
        QCOMPARE(QByteArray::fromStdString(response), body);
    }

    // No server: nothing is sent and the response is left as it was.
    void failsWithoutAServer_data()
    {
        QTest::addColumn<QByteArray>("host");
        QTest::addColumn<int>("result");
        // A 64-byte label cannot be looked up: it fails on this machine, without a query leaving it.
        QTest::newRow("unknown host") << QByteArray(64, 'q') + ".invalid" << int(kHttpResolveFailed);
        QTest::newRow("nothing listens on the port") << QByteArray("127.0.0.1") << int(kHttpConnectFailed);
    }
    void failsWithoutAServer()
    {
        QFETCH(QByteArray, host);
        QFETCH(int, result);
        std::string response = "untouched";
        const HttpExchangeOptions options{updatetest::deadPort(), kTimeoutMs};
        QCOMPARE(sendPostRequest(host.constData(), "/version", "", response, options), result);
        QCOMPARE(response, std::string("untouched"));
    }
};

QTEST_GUILESS_MAIN(TestHttpClient)
#include "tst_httpclient.moc"
