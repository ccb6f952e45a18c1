#include "ui/kit/Fetcher.h"

#include <QMetaObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QUrl>
#include <atomic>
#include <mutex>

#include "ui/kit/Scheduler.h"

namespace kit {

namespace {
Fetcher* g_current = nullptr;
}

// The main thread's object that answers are queued to; a worker finds it gone once the fetcher is.
struct Fetcher::Receiver {
    std::mutex mutex;
    QObject* object = nullptr;
};

struct Fetcher::Pending {
    Completion completion;
    std::shared_ptr<Timer> timer;
    Cancel cancel;
    bool done = false;
};

Fetcher::Fetcher() : m_receiver(std::make_shared<Receiver>()) { m_receiver->object = new QObject; }

Fetcher::~Fetcher() {
    cancelAll();
    QObject* object = nullptr;
    {
        std::lock_guard<std::mutex> hold(m_receiver->mutex);
        std::swap(object, m_receiver->object);
    }
    // Answers still queued to it are dropped with it.
    delete object;
}

Fetcher& Fetcher::current() {
    if (g_current) return *g_current;
    // Never destroyed: its thread would have to be stopped after the application has gone.
    static auto* network = new NetworkFetcher;
    return *network;
}

void Fetcher::setCurrent(Fetcher* fetcher) { g_current = fetcher; }

void Fetcher::fetch(const std::string& url, double timeoutSeconds, Completion completion) {
    auto pending = std::make_shared<Pending>();
    pending->completion = std::move(completion);
    m_pending.insert(pending);
    const std::weak_ptr<Pending> weak = pending;
    pending->timer = Scheduler::current().performAfterDelay(pending.get(), timeoutSeconds, [this, weak] {
        FetchResult timedOut;
        timedOut.status = FetchResult::Status::TimedOut;
        timedOut.error = "no answer in time";
        if (const auto p = weak.lock()) finish(p, timedOut);
    });
    const std::shared_ptr<Receiver> receiver = m_receiver;
    pending->cancel = start(url, [this, receiver, weak](FetchResult result) {
        std::lock_guard<std::mutex> hold(receiver->mutex);
        if (!receiver->object) return;
        QMetaObject::invokeMethod(
            receiver->object,
            [this, weak, result = std::move(result)] {
                if (const auto p = weak.lock()) finish(p, result);
            },
            Qt::QueuedConnection);
    });
}

void Fetcher::finish(const std::shared_ptr<Pending>& pending, const FetchResult& result) {
    if (pending->done) return;
    pending->done = true;
    m_pending.erase(pending);
    if (pending->timer) pending->timer->invalidate();
    if (result.status == FetchResult::Status::TimedOut && pending->cancel) pending->cancel();
    if (pending->completion) pending->completion(result);
}

void Fetcher::cancelAll() {
    const auto pending = std::move(m_pending);
    m_pending.clear();
    for (const auto& p : pending) {
        p->done = true;
        if (p->timer) p->timer->invalidate();
        if (p->cancel) p->cancel();
    }
}

// ---- NetworkFetcher

struct NetworkFetcher::Worker {
    QThread thread;
    // Lives in the thread, with the manager and the replies below it.
    QObject* context = new QObject;
    QNetworkAccessManager* manager = nullptr;

    Worker() {
        thread.setObjectName(QStringLiteral("brelvox-fetch"));
        context->moveToThread(&thread);
        QObject::connect(&thread, &QThread::finished, context, &QObject::deleteLater);
        thread.start();
    }
    ~Worker() {
        thread.quit();
        thread.wait();
    }
};

namespace {

// What the worker thread knows of one request.
struct Request {
    std::atomic<bool> cancelled{false};
    QPointer<QNetworkReply> reply;
    bool tooLarge = false;
};

bool Fetchable(const QUrl& url) {
    const QString scheme = url.scheme();
    return url.isValid() && (scheme == "http" || scheme == "https" || scheme == "file");
}

FetchResult ResultOf(QNetworkReply& reply, const Request& request) {
    FetchResult result;
    result.httpStatus = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (request.tooLarge) {
        result.error = "the answer is larger than " + std::to_string(NetworkFetcher::kMaxBytes) + " bytes";
    } else if (reply.error() != QNetworkReply::NoError) {
        result.error = reply.errorString().toStdString();
    } else if (result.httpStatus >= 400) {
        result.error = "HTTP status " + std::to_string(result.httpStatus);
    } else {
        const QByteArray body = reply.read(NetworkFetcher::kMaxBytes + 1);
        if (body.size() > NetworkFetcher::kMaxBytes) {
            result.error = "the answer is larger than " + std::to_string(NetworkFetcher::kMaxBytes) + " bytes";
        } else {
            result.status = FetchResult::Status::Done;
            result.body.assign(body.constData(), size_t(body.size()));
        }
    }
    return result;
}

}  // namespace

NetworkFetcher::NetworkFetcher() : m_worker(std::make_unique<Worker>()) {}

NetworkFetcher::~NetworkFetcher() { cancelAll(); }

Fetcher::Cancel NetworkFetcher::start(const std::string& url, Deliver deliver) {
    auto request = std::make_shared<Request>();
    Worker* worker = m_worker.get();
    const QUrl address(QString::fromStdString(url), QUrl::StrictMode);
    QMetaObject::invokeMethod(
        worker->context,
        [worker, address, request, deliver = std::move(deliver)] {
            if (request->cancelled) return;
            if (!Fetchable(address)) {
                FetchResult refused;
                refused.error = "not an http, https or file address";
                deliver(refused);
                return;
            }
            if (!worker->manager) worker->manager = new QNetworkAccessManager(worker->context);
            QNetworkReply* reply = worker->manager->get(QNetworkRequest(address));
            request->reply = reply;
            QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [reply, request](qint64 received, qint64) {
                if (received <= kMaxBytes) return;
                request->tooLarge = true;
                reply->abort();
            });
            QObject::connect(reply, &QNetworkReply::finished, reply, [reply, request, deliver] {
                deliver(ResultOf(*reply, *request));
                reply->deleteLater();
            });
        },
        Qt::QueuedConnection);
    return [worker, request] {
        request->cancelled = true;
        QMetaObject::invokeMethod(
            worker->context, [request] {
                if (request->reply) request->reply->abort();
            },
            Qt::QueuedConnection);
    };
}

}  // namespace kit
