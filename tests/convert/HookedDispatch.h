#pragma once

// The real spreadsheet application behind a hook that sees each member call or query, with its arguments,
// on the calling (worker's) thread before it runs. Used by the convert tests and the window test.

#include "automation/AutomationServers.h"
#include "automation/SpreadsheetDispatch.h"

#include <functional>
#include <memory>

class HookedDispatch : public Dispatch
{
public:
    using Hook = std::function<void(const QByteArray& member, const QVariantList& arguments)>;

    HookedDispatch(std::unique_ptr<Dispatch> inner, Hook hook) : inner_(std::move(inner)), hook_(std::move(hook))
    {
    }
    DispatchResult call(const QByteArray& member, const QVariantList& arguments) override
    {
        hook_(member, arguments);
        return wrap(inner_->call(member, arguments));
    }
    DispatchResult query(const QByteArray& member, const QVariantList& arguments) override
    {
        hook_(member, arguments);
        return wrap(inner_->query(member, arguments));
    }
    DispatchResult setProperty(const QByteArray& name, const QVariant& value) override
    {
        return wrap(inner_->setProperty(name, value));
    }
    DispatchResult property(const QByteArray& name) override { return wrap(inner_->property(name)); }
    QString source() const override { return inner_->source(); }

private:
    DispatchResult wrap(DispatchResult result)
    {
        if (result.subObject)
            result.subObject = std::make_unique<HookedDispatch>(std::move(result.subObject), hook_);
        return result;
    }

    std::unique_ptr<Dispatch> inner_;
    Hook hook_;
};

// Registers the spreadsheet application behind `hook` until the defaults are restored; `onStart` runs on
// the thread that starts it.
inline void registerHookedApplication(HookedDispatch::Hook hook, std::function<void()> onStart = {})
{
    AutomationServers::registerServer(QStringLiteral("Excel.Application"), [hook, onStart] {
        if (onStart)
            onStart();
        return std::make_unique<HookedDispatch>(createSpreadsheetApplication(), hook);
    });
}
