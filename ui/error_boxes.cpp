#include "ui/error_boxes.h"

#include <QMessageBox>

#include <iostream>

namespace morvane {

ErrorBoxes::ErrorBoxes(QWidget* parent) : QObject(parent), parent_(parent) {}

void ErrorBoxes::Show(const QString& caption, const QString& text) {
    waiting_.push_back({caption, text});
    if (!shown_)
        ShowNext();
}

void ErrorBoxes::SendWaitingToStandardError() {
    for (const Message& message : waiting_)
        std::cerr << "morvane: " << message.text.toStdString() << '\n';
    waiting_.clear();
}

void ErrorBoxes::ShowNext() {
    const Message message = waiting_.front();
    waiting_.pop_front();
    shown_ = new QMessageBox(QMessageBox::Critical, message.caption, message.text, QMessageBox::Ok,
                             parent_);
    shown_->setWindowModality(Qt::ApplicationModal);
    connect(shown_, &QDialog::finished, this, &ErrorBoxes::Answered);
    shown_->show();
}

void ErrorBoxes::Answered() {
    shown_->deleteLater();
    shown_ = nullptr;
    if (!waiting_.empty())
        ShowNext();
    else
        emit AllAnswered();
}

} // namespace morvane
