#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class AboutBox;
}

namespace corvelle {

// Name, version and icon of the console (template 100).
class CAboutBox final : public QDialog {
    Q_OBJECT

  public:
    explicit CAboutBox(QWidget* parent = nullptr);
    ~CAboutBox() override;
    CAboutBox(const CAboutBox&) = delete;
    CAboutBox& operator=(const CAboutBox&) = delete;

  private:
    std::unique_ptr<Ui::AboutBox> ui_;
};

}  // namespace corvelle
