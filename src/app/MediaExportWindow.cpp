#include "app/MediaExportWindow.h"

#include <QAbstractListModel>
#include <QCheckBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTextLayout>
#include <QVBoxLayout>

namespace orvan {

namespace {

QString qt(const std::string& text) { return QString::fromStdString(text); }

constexpr int kCellWidth = 150;
constexpr int kCellHeight = 180;
constexpr int kSpacing = 10;
constexpr int kContentWidth = 126;
constexpr int kPreviewHeight = 58;

enum Role { SizeRole = Qt::UserRole + 1, DirectoryRole, SelectedRole, PreviewRole };

struct QtMediaPreview final : MediaPreviewImage {
    QImage image;
};

}  // namespace

// The controller's list as a model for the grid; it holds no copy of its own.
class MediaItemModel final : public QAbstractListModel {
public:
    explicit MediaItemModel(QObject* parent) : QAbstractListModel(parent) {}
    void setController(const MediaExportController* controller) { controller_ = controller; }
    void reset() {
        beginResetModel();
        endResetModel();
    }
    void changed(size_t row) {
        auto at = index(static_cast<int>(row));
        emit dataChanged(at, at);
    }
    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() || !controller_ ? 0 : static_cast<int>(controller_->items().size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!controller_ || !index.isValid() || static_cast<size_t>(index.row()) >= controller_->items().size())
            return {};
        const auto& item = controller_->items()[static_cast<size_t>(index.row())];
        switch (role) {
            case Qt::DisplayRole:
            case Qt::ToolTipRole:
                return qt(item.name);
            case SizeRole:
                return item.isDirectory ? QString() : qt(formatSize(item.size));
            case DirectoryRole:
                return item.isDirectory;
            case SelectedRole:
                return controller_->isSelected(item.path);
            case PreviewRole:
                if (auto preview = std::dynamic_pointer_cast<const QtMediaPreview>(controller_->preview(item)))
                    return preview->image;
                return {};
            default:
                return {};
        }
    }

private:
    const MediaExportController* controller_ = nullptr;
};

namespace {

// One cell: a rounded box holding the preview (when there is one), the name (up to four lines,
// broken anywhere) and the size, centred; a selected cell has a blue border.
class MediaCellDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
        return {kCellWidth, kCellHeight};
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const QPalette& palette = option.palette;
        const QRectF box = QRectF(option.rect).adjusted(1, 1, -1, -1);
        const bool selected = index.data(SelectedRole).toBool();
        painter->setPen(selected ? QPen(QColor(0x0A, 0x84, 0xFF), 2) : QPen(palette.color(QPalette::Mid), 1));
        painter->setBrush(palette.color(QPalette::Base));
        painter->drawRoundedRect(box, 6, 6);

        const QImage preview = index.data(PreviewRole).value<QImage>();
        const QString size = index.data(SizeRole).toString();
        QFont nameFont = option.font;
        nameFont.setPixelSize(12);
        QFont sizeFont = option.font;
        sizeFont.setPixelSize(11);
        const QStringList nameLines = wrapped(index.data(Qt::DisplayRole).toString(), nameFont);
        const int nameHeight = QFontMetrics(nameFont).lineSpacing() * static_cast<int>(nameLines.size());
        const int sizeHeight = size.isEmpty() ? 0 : QFontMetrics(sizeFont).lineSpacing();
        int height = nameHeight + (preview.isNull() ? 0 : kPreviewHeight + 7) + (sizeHeight ? sizeHeight + 7 : 0);
        const int left = option.rect.left() + (option.rect.width() - kContentWidth) / 2;
        int top = option.rect.top() + (option.rect.height() - height) / 2;

        if (!preview.isNull()) {
            QRect frame(left, top, kContentWidth, kPreviewHeight);
            QPainterPath clip;
            clip.addRoundedRect(frame, 4, 4);
            painter->setClipPath(clip);
            painter->fillRect(frame, palette.color(QPalette::AlternateBase));
            QSize fitted = preview.size().scaled(frame.size(), Qt::KeepAspectRatio);
            QRect target(QPoint(0, 0), fitted);
            target.moveCenter(frame.center());
            painter->drawImage(target, preview);
            painter->setClipping(false);
            top += kPreviewHeight + 7;
        }
        painter->setPen(palette.color(QPalette::Text));
        painter->setFont(nameFont);
        const int lineHeight = QFontMetrics(nameFont).lineSpacing();
        for (const auto& line : nameLines) {
            painter->drawText(QRect(left, top, kContentWidth, lineHeight), Qt::AlignHCenter | Qt::AlignVCenter, line);
            top += lineHeight;
        }
        if (sizeHeight) {
            top += 7;
            painter->setPen(palette.color(QPalette::PlaceholderText));
            painter->setFont(sizeFont);
            painter->drawText(QRect(left, top, kContentWidth, sizeHeight), Qt::AlignHCenter | Qt::AlignVCenter, size);
        }
        painter->restore();
    }

private:
    // Breaks anywhere (file names have few spaces), at most four lines, the last one elided.
    static QStringList wrapped(const QString& text, const QFont& font) {
        QTextLayout layout(text, font);
        QTextOption textOption;
        textOption.setWrapMode(QTextOption::WrapAnywhere);
        layout.setTextOption(textOption);
        QStringList lines;
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(kContentWidth);
            if (lines.size() == 3) {
                QString rest = text.mid(line.textStart());
                lines << QFontMetrics(font).elidedText(rest, Qt::ElideRight, kContentWidth);
                break;
            }
            lines << text.mid(line.textStart(), line.textLength());
        }
        layout.endLayout();
        return lines;
    }
};

}  // namespace

MediaExportWindow::MediaExportWindow(std::shared_ptr<const MediaBrowser> browser,
                                     std::shared_ptr<const MediaExporter> exporter, QWidget* parent)
    : QWidget(parent, Qt::Window) {
    setWindowTitle(media_export_text::kTitle);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(12);

    auto* controls = new QHBoxLayout;
    controls->setSpacing(8);
    auto button = [this, controls](const char* title, const char* name) {
        auto* created = new QPushButton(title, this);
        created->setObjectName(name);
        controls->addWidget(created);
        return created;
    };
    auto* defaultScan = button("默认扫描", "defaultScanButton");
    auto* up = button("返回上级", "upButton");
    auto* refresh = button("刷新", "refreshButton");
    exportSelectedButton_ = button("导出选中", "exportSelectedButton");
    selectAll_ = new QCheckBox("全选", this);
    selectAll_->setObjectName("selectAllCheckbox");
    selectAll_->setTristate(true);
    selectAll_->setFixedHeight(32);
    controls->addWidget(selectAll_);
    controls->addStretch();
    layout->addLayout(controls);

    pathField_ = new QLineEdit("/sdcard", this);
    pathField_->setObjectName("pathField");
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSize(13);
    pathField_->setFont(mono);
    layout->addWidget(pathField_);

    model_ = new MediaItemModel(this);
    grid_ = new QListView(this);
    grid_->setObjectName("mediaGrid");
    grid_->setViewMode(QListView::IconMode);
    grid_->setFlow(QListView::LeftToRight);
    grid_->setWrapping(true);
    grid_->setResizeMode(QListView::Adjust);
    grid_->setMovement(QListView::Static);
    grid_->setUniformItemSizes(true);
    grid_->setSpacing(kSpacing / 2);
    grid_->setSelectionMode(QAbstractItemView::NoSelection);
    grid_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    grid_->setModel(model_);
    grid_->setItemDelegate(new MediaCellDelegate(grid_));
    grid_->setMinimumSize(820, 440);
    layout->addWidget(grid_, 1);

    exportProgress_ = new QProgressBar(this);
    exportProgress_->setObjectName("exportProgress");
    exportProgress_->setRange(0, 1);
    exportProgress_->setValue(0);
    exportProgress_->setVisible(false);
    layout->addWidget(exportProgress_);

    statusLabel_ = new QLabel(media_export_text::kInitialStatus, this);
    statusLabel_->setObjectName("statusLabel");
    statusLabel_->setWordWrap(true);
    statusLabel_->setForegroundRole(QPalette::PlaceholderText);
    statusLabel_->setMaximumHeight(statusLabel_->fontMetrics().lineSpacing() * 2 + 4);
    layout->addWidget(statusLabel_);
    resize(kWidth, kHeight);

    controller_ = std::make_shared<MediaExportController>(std::move(browser), std::move(exporter), *this,
                                                          &MediaExportWindow::decodePreview);
    model_->setController(controller_.get());
    auto* controller = controller_.get();
    connect(defaultScan, &QPushButton::clicked, this, [controller] { controller->loadDefaultMedia(); });
    connect(up, &QPushButton::clicked, this, [this] { controller_->goUpDirectory(pathField_->text().toStdString()); });
    connect(refresh, &QPushButton::clicked, this, [controller] { controller->refreshCurrentPath(); });
    connect(exportSelectedButton_, &QPushButton::clicked, this, [controller] { controller->exportSelectedMedia(); });
    connect(pathField_, &QLineEdit::returnPressed, this,
            [this] { controller_->pathEntered(pathField_->text().toStdString()); });
    connect(selectAll_, &QCheckBox::clicked, this, [this] {
        // Qt's cycle would go from off to mixed; a click on an unticked or mixed box picks all.
        controller_->toggleSelectAll(selectAll_->checkState() != Qt::Unchecked);
    });
    connect(grid_, &QListView::clicked, this, [controller](const QModelIndex& index) {
        if (index.isValid()) controller->itemClicked(static_cast<size_t>(index.row()));
    });
    folderChooser_ = [this](const QString& title) -> std::optional<std::filesystem::path> {
        QString folder = QFileDialog::getExistingDirectory(this, title, QString(), QFileDialog::ShowDirsOnly);
        if (folder.isEmpty()) return std::nullopt;
        return std::filesystem::path(folder.toStdString());
    };
}

MediaExportWindow::~MediaExportWindow() {
    // Results still in flight find the controller gone and do nothing.
    model_->setController(nullptr);
}

void MediaExportWindow::present(const std::optional<std::string>& preferredSerial) {
    const bool wasVisible = isVisible();
    show();
    raise();
    activateWindow();
    if (!wasVisible) controller_->open(preferredSerial);
}

MediaPreview MediaExportWindow::decodePreview(const std::filesystem::path& file) {
    QImageReader reader(QString::fromStdString(file.string()));
    reader.setAutoTransform(true);
    // Decoded at twice the cell's size (sharp on high-density screens), never at full size.
    const QSize bound(kContentWidth * 2, kPreviewHeight * 2);
    if (reader.size().isValid()) reader.setScaledSize(reader.size().scaled(bound, Qt::KeepAspectRatio));
    QImage image = reader.read();
    if (image.isNull()) return nullptr;
    auto preview = std::make_shared<QtMediaPreview>();
    preview->image = std::move(image);
    return preview;
}

void MediaExportWindow::reloadItems() { model_->reset(); }

void MediaExportWindow::updateItem(size_t index) { model_->changed(index); }

void MediaExportWindow::setPathText(const std::string& text) { pathField_->setText(qt(text)); }

void MediaExportWindow::setStatus(const std::string& text) { statusLabel_->setText(qt(text)); }

void MediaExportWindow::setSelectAll(const SelectAllState& state) {
    selectAll_->setEnabled(state.enabled);
    selectAll_->setCheckState(state.check == SelectAllCheck::on      ? Qt::Checked
                              : state.check == SelectAllCheck::mixed ? Qt::PartiallyChecked
                                                                     : Qt::Unchecked);
}

void MediaExportWindow::setExportEnabled(bool enabled) { exportSelectedButton_->setEnabled(enabled); }

void MediaExportWindow::showProgress(int value, int maximum) {
    exportProgress_->setRange(0, maximum);
    exportProgress_->setValue(value);
    exportProgress_->setVisible(true);
}

void MediaExportWindow::hideProgress() {
    exportProgress_->setValue(exportProgress_->maximum());
    exportProgress_->setVisible(false);
}

std::optional<std::filesystem::path> MediaExportWindow::chooseExportFolder(const std::string& title) {
    return folderChooser_(qt(title));
}

void MediaExportWindow::showAlert(AlertKind kind, const std::string& message, const std::string& informative,
                                  std::function<void()> dismissed) {
    lastAlert_ = qt(message + "\n" + informative);
    auto* box = new QMessageBox(kind == AlertKind::warning ? QMessageBox::Warning : QMessageBox::Information,
                                qt(message), qt(message), QMessageBox::Ok, this);
    box->setObjectName("mediaExportAlert");
    box->setInformativeText(qt(informative));
    box->setAttribute(Qt::WA_DeleteOnClose);
    if (dismissed) connect(box, &QMessageBox::finished, this, [dismissed] { dismissed(); });
    box->open();
}

}  // namespace orvan
