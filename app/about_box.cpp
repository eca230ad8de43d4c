#include "app/about_box.h"

#include "ui_about_100.h"

namespace corvelle {

CAboutBox::CAboutBox(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::AboutBox>()) {
    ui_->setupUi(this);
}

CAboutBox::~CAboutBox() = default;

}  // namespace corvelle

#include "moc_about_box.cpp"  // NOLINT(bugprone-suspicious-include): moc output
