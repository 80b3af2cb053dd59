#include "browse/sharesheetform.h"

namespace Tarnwick {

namespace {

template<typename T> bool assign(T &member, T value)
{
    if (member == value)
        return false;
    member = std::move(value);
    return true;
}

} // namespace

ShareSheetForm::ShareSheetForm(QObject *parent)
    : QObject(parent)
{
}

void ShareSheetForm::setEmail(QString email)
{
    if (assign(m_email, std::move(email)))
        emit changed();
}

void ShareSheetForm::setRole(QString role)
{
    if (assign(m_role, std::move(role)))
        emit changed();
}

void ShareSheetForm::setSendNotify(bool send)
{
    if (assign(m_sendNotify, send))
        emit changed();
}

void ShareSheetForm::setAdding(bool adding)
{
    if (assign(m_adding, adding))
        emit changed();
}

void ShareSheetForm::setLocalError(std::optional<QString> error)
{
    if (assign(m_localError, std::move(error)))
        emit changed();
}

} // namespace Tarnwick
