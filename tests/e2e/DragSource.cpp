// A small X client that drags files out, as a file manager does: a window
// filling itself with grey; pressing the left button in it and moving starts
// an XDND drag offering the files of the command line as a text/uri-list
// (names percent-escaped byte by byte, so any name goes through exactly).
// It reports on standard output what the drop target answers:
//   "ready"            once the window is shown
//   "action N"         whenever the accepted action changes (0: refused, 1: copy)
//   "done N"           when the drag ended, with the action performed
#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QWidget>
#include <cstdio>

namespace {

class Source : public QWidget {
 public:
  explicit Source(QByteArray list) : list_(std::move(list)) {
    setWindowTitle("drag source");
    setAutoFillBackground(true);
    setPalette(QPalette(Qt::gray));
  }

 protected:
  void mousePressEvent(QMouseEvent* e) override { pressed_ = e->button() == Qt::LeftButton; }
  void mouseMoveEvent(QMouseEvent*) override {
    if (!pressed_) return;
    pressed_ = false;
    auto* data = new QMimeData;
    data->setData("text/uri-list", list_);
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    connect(drag, &QDrag::actionChanged, this, [](Qt::DropAction a) {
      std::printf("action %d\n", static_cast<int>(a));
      std::fflush(stdout);
    });
    const Qt::DropAction done = drag->exec(Qt::CopyAction);
    std::printf("done %d\n", static_cast<int>(done));
    std::fflush(stdout);
  }
  void showEvent(QShowEvent*) override {
    std::printf("ready\n");
    std::fflush(stdout);
  }

 private:
  QByteArray list_;
  bool pressed_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QByteArray list;
  for (int i = 1; i < argc; ++i)
    list += "file://" + QByteArray(argv[i]).toPercentEncoding("/") + "\r\n";
  Source source(list);
  source.setGeometry(600, 100, 200, 200);
  source.show();
  return app.exec();
}
