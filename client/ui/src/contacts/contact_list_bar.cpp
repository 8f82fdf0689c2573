#include "talvorine/client/ui/contacts/contact_list_bar.h"

#include <QApplication>
#include <QCursor>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QToolButton>
#include <algorithm>

#include "contact_dialogs.h"
#include "talvorine/client/data/client_settings.h"
#include "talvorine/client/ui/contacts/floating_contact.h"

namespace talvorine::client::ui::contacts {

namespace {

constexpr int BlinkInterval = 500;
constexpr int AnimationInterval = 100;
constexpr int HoverInterval = 50;
constexpr int HeaderTextLimit = 64;

}  // namespace

CContactListBar::CContactListBar(data::ContactList& list, std::mutex& listMutex,
                                 ContactListHost& host, QWidget* parent)
    : QWidget(parent),
      m_list(list),
      m_listMutex(listMutex),
      m_host(host),
      m_commands(list, listMutex) {
    setObjectName(QStringLiteral("contactListBar"));
    setAccessibleName(QStringLiteral("Contact list"));
    setMouseTracking(true);
    setAcceptDrops(true);  // files dropped on a contact are sent to it
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(80, 60);
    m_largeIcons =
        data::WindowSettings(data::WindowSection::ContactList).GetDword("LargeIcons", 0) != 0;
    m_headerHeight = std::max(22, fontMetrics().height() + 8);

    const auto makeArrow = [this](Qt::ArrowType arrow, const char* name, const char* text,
                                  int lines) {
        auto* button = new QToolButton(this);
        button->setObjectName(QString::fromLatin1(name));
        button->setArrowType(arrow);
        button->setAccessibleName(QString::fromLatin1(text));
        button->setToolTip(QString::fromLatin1(text));
        button->setAutoRepeat(true);
        button->setFocusPolicy(Qt::NoFocus);
        connect(button, &QToolButton::clicked, this, [this, lines] { ScrollLines(lines); });
        return button;
    };
    m_scrollUp = makeArrow(Qt::UpArrow, "scrollUp", "Scroll up", -1);
    m_scrollDown = makeArrow(Qt::DownArrow, "scrollDown", "Scroll down", 1);

    m_blinkTimer = new QTimer(this);
    m_blinkTimer->setObjectName(QStringLiteral("blinkTimer"));
    m_blinkTimer->setInterval(BlinkInterval);
    connect(m_blinkTimer, &QTimer::timeout, this, &CContactListBar::BlinkTick);
    m_blinkTimer->start();
    m_animationTimer = new QTimer(this);
    m_animationTimer->setInterval(AnimationInterval);
    connect(m_animationTimer, &QTimer::timeout, this, &CContactListBar::AnimationTick);
    m_hoverTimer = new QTimer(this);
    m_hoverTimer->setInterval(HoverInterval);
    connect(m_hoverTimer, &QTimer::timeout, this, &CContactListBar::HoverTick);

    auto* refresh = new QShortcut(QKeySequence(Qt::Key_F5), this);
    refresh->setContext(Qt::WindowShortcut);
    connect(refresh, &QShortcut::activated, this, &CContactListBar::RefreshUserStatus);
    Relayout();
}

CContactListBar::~CContactListBar() {
    StopStatusPoller();
    CloseAllFloating(false);
    data::WindowSettings(data::WindowSection::ContactList)
        .SetDword("LargeIcons", m_largeIcons ? 1 : 0);
}

// --- the list's life ---

void CContactListBar::LoadList(const std::string& accountId) {
    // The drawing state points into the entries the load replaces, so it goes first, whether
    // the load succeeds or not.
    ForgetEntries();
    try {
        std::lock_guard lock(m_listMutex);
        m_list.Load(accountId);
    } catch (...) {
        Relayout();
        UnreadChanged();
        throw;
    }
    std::vector<std::pair<std::string, data::FloatingPlacement>> floating;
    for (int g = 0; g < m_list.GroupCount(); ++g) {
        for (const auto& entry : m_list.Group(g).contacts) {
            State(entry.get());
            if (entry->floating.shown) {
                floating.emplace_back(entry->id, entry->floating);
            }
        }
    }
    Relayout();
    for (const auto& [id, place] : floating) {
        std::optional<QPoint> topLeft;
        const QPoint fallback = DefaultFloatingPlace(id);
        if (place.x || place.y) {
            topLeft = QPoint(place.x.value_or(fallback.x()), place.y.value_or(fallback.y()));
        }
        ShowFloating(id, topLeft, place.width);
    }
    UnreadChanged();
    update();
}

void CContactListBar::SaveAndUnloadList(ListLock lock) {
    CloseAllFloating(true);
    try {
        if (lock == ListLock::Take) {
            std::lock_guard listLock(m_listMutex);
            m_list.SaveAndUnload();
        } else {
            m_list.SaveAndUnload();
        }
    } catch (...) {
        ForgetEntries();
        Relayout();
        throw;
    }
    ForgetEntries();
    Relayout();
    UnreadChanged();
}

void CContactListBar::ForgetEntries() {
    m_states.clear();
    m_selected = m_hovered = m_pressed = nullptr;
    m_firstItem = 0;
}

void CContactListBar::LoggedIn() {
    {
        std::lock_guard lock(m_listMutex);
        m_list.MarkFirstReports();
    }
    WakeStatusPoll();
}

// --- status ---

void CContactListBar::StartStatusPoller(session::ServerSession& session,
                                        StatusPoller::Timing timing) {
    StopStatusPoller();
    m_poller = std::make_unique<StatusPoller>(
        m_list, m_listMutex, session,
        [this](const std::string& id, int status) {
            // The report is sent: the poller waits until the window has handled it.
            QMetaObject::invokeMethod(
                this, [this, id, status] { HandleStatusReport(id, status); },
                Qt::BlockingQueuedConnection);
        },
        timing);
    m_poller->Start();
}

void CContactListBar::StopStatusPoller() {
    if (m_poller) {
        m_poller->Stop([] { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); });
        m_poller.reset();
    }
}

void CContactListBar::WakeStatusPoll() {
    if (m_poller) {
        m_poller->Wake();
    }
}

void CContactListBar::HandleStatusReport(const std::string& contactId, int status) {
    StatusReportOutcome outcome;
    data::ContactEntry* entry = nullptr;
    {
        std::lock_guard lock(m_listMutex);
        const auto position = m_list.FindContact(contactId);
        if (!position) {
            return;
        }
        entry = m_list.Entry(*position);
        outcome = ApplyStatusReport(*entry, status, m_host.IsConnected());
    }
    ItemState& state = State(entry);
    const PictureKind kind = ChoosePicture(entry->unread.load(), m_blinkOn, entry->status);
    bool changed = state.online != outcome.online || state.drawn != kind;
    state.online = outcome.online;
    state.drawn = kind;
    if (outcome.arrival) {
        state.animationTotal = state.animation = ArrivalTicks(entry->nickname);
        m_animationTimer->start();
        m_host.PlayEventSound(data::SoundEvent::UserOnline);
        changed = true;
    }
    if (changed) {
        RepaintContact(contactId);
    }
    emit StatusReported(QString::fromStdString(contactId), status);
}

// --- messages ---

void CContactListBar::MessageReceived(const session::IncomingMessage& message) {
    if (message.newStranger) {
        if (data::ContactEntry* entry = EntryOf(message.senderId)) {
            State(entry);
        }
        Relayout();
    }
    m_host.PassToMessagesWindow(message.senderId, message.record);
    UnreadChanged();
    if (!message.storageWarning.empty()) {
        // Not while the reader waits for this hand-over: the box is shown afterwards.
        QTimer::singleShot(0, this, [this, text = message.storageWarning] { ShowBox(text); });
    }
}

void CContactListBar::ActivateContact(const std::string& contactId) {
    const data::ContactEntry* entry = EntryOf(contactId);
    if (entry == nullptr) {
        return;
    }
    // A window the main window does not offer is left alone.
    if (entry->unread.load() > 0) {
        if (m_host.CanOpen(ContactCommand::ReceivedMessages)) {
            m_host.OpenReceivedMessages(contactId);
        }
    } else if (m_host.CanOpen(ContactCommand::SendMessage)) {
        m_host.OpenSendMessage(contactId);
    }
}

bool CContactListBar::HasUnread() const {
    return FirstUnreadContact().has_value();
}

std::optional<std::string> CContactListBar::FirstUnreadContact() const {
    std::lock_guard lock(m_listMutex);
    for (int g = 0; g < m_list.GroupCount(); ++g) {
        for (const auto& entry : m_list.Group(g).contacts) {
            if (entry->unread.load() > 0) {
                return entry->id;
            }
        }
    }
    return std::nullopt;
}

void CContactListBar::UnreadChanged() {
    std::vector<std::string> changed;
    {
        std::lock_guard lock(m_listMutex);
        changed = RefreshPictures();
    }
    RepaintChanged(changed);
}

std::vector<std::string> CContactListBar::RefreshPictures() {
    std::vector<std::string> changed;
    for (int g = 0; g < m_list.GroupCount(); ++g) {
        for (const auto& entry : m_list.Group(g).contacts) {
            ItemState& state = State(entry.get());
            const PictureKind kind = ChoosePicture(entry->unread.load(), m_blinkOn, entry->status);
            if (kind != state.drawn) {
                state.drawn = kind;
                changed.push_back(entry->id);
            }
        }
    }
    return changed;
}

void CContactListBar::RepaintChanged(const std::vector<std::string>& contactIds) {
    for (const auto& id : contactIds) {
        RepaintContact(id);
    }
    UpdateHeaderPictures();
}

// --- contacts from elsewhere ---

CommandResult CContactListBar::AddContact(int group, const std::string& contactId,
                                          const std::string& nickname, const std::string& email) {
    int added = -1;
    CommandResult result = m_commands.AddContact(group, contactId, nickname, email, &added);
    if (result.ok) {
        if (data::ContactEntry* entry = EntryOf(contactId)) {
            State(entry);
        }
        Relayout();
    }
    return result;
}

void CContactListBar::SetNickname(const std::string& contactId, const std::string& nickname) {
    {
        std::lock_guard lock(m_listMutex);
        const auto position = m_list.FindContact(contactId);
        if (!position) {
            return;
        }
        m_list.SetNickname(*position, nickname);
    }
    RepaintContact(contactId);
    if (FloatingContact* floating = Floating(contactId)) {
        floating->Refresh();
    }
}

void CContactListBar::ReloadPictures(const std::string& contactId) {
    if (data::ContactEntry* entry = EntryOf(contactId)) {
        State(entry).pictures = LoadContactPictures(m_list.LoadedAccount(), contactId);
        RepaintContact(contactId);
    }
}

// --- the view ---

void CContactListBar::SetLargeIcons(bool large) {
    if (large == m_largeIcons) {
        return;
    }
    m_largeIcons = large;
    ScrollLines(0);
    Relayout();
    for (auto& [entry, state] : m_states) {
        if (state.floating) {
            state.floating->Refresh();
        }
    }
}

void CContactListBar::OpenGroup(int group) {
    if (group < 0 || group >= m_list.GroupCount() || group == m_list.OpenGroup()) {
        return;
    }
    {
        std::lock_guard lock(m_listMutex);
        m_list.SetOpenGroup(group);
    }
    m_firstItem = 0;
    Relayout();
}

void CContactListBar::ScrollLines(int lines) {
    const data::ContactGroup* open = Open();
    const int count = open ? static_cast<int>(open->contacts.size()) : 0;
    const int fits = std::max(1, ListArea().height() / ItemHeight());
    const int last = std::max(0, count - fits);
    const int first = std::clamp(m_firstItem + lines, 0, last);
    if (first != m_firstItem) {
        m_firstItem = first;
        update(ListArea());
    }
    UpdateArrows();
}

const data::ContactGroup* CContactListBar::Open() const {
    const int open = m_list.OpenGroup();
    return open >= 0 && open < m_list.GroupCount() ? &m_list.Group(open) : nullptr;
}

QRect CContactListBar::ListArea() const {
    const int groups = m_list.GroupCount();
    const int open = m_list.OpenGroup();
    if (groups == 0 || open < 0) {
        return QRect(0, groups * m_headerHeight, width(), 0);
    }
    const int top = (open + 1) * m_headerHeight;
    const int bottom = std::max(top, height() - (groups - open - 1) * m_headerHeight);
    return QRect(0, top, width(), bottom - top);
}

QRect CContactListBar::HeaderRect(int group) const {
    const int open = m_list.OpenGroup();
    if (group <= open || open < 0) {
        return QRect(0, group * m_headerHeight, width(), m_headerHeight);
    }
    const QRect list = ListArea();
    return QRect(0, list.bottom() + 1 + (group - open - 1) * m_headerHeight, width(),
                 m_headerHeight);
}

QRect CContactListBar::ItemRect(int item) const {
    const QRect list = ListArea();
    const int arrows = m_list.GroupCount() > 0 ? m_headerHeight : 0;
    return QRect(0, list.top() + (item - m_firstItem) * ItemHeight(), list.width() - arrows,
                 ItemHeight());
}

std::optional<int> CContactListBar::ItemAt(QPoint point) const {
    const QRect list = ListArea();
    const data::ContactGroup* open = Open();
    if (open == nullptr || !list.contains(point)) {
        return std::nullopt;
    }
    const int item = m_firstItem + (point.y() - list.top()) / ItemHeight();
    if (item < 0 || item >= static_cast<int>(open->contacts.size()) ||
        !ItemRect(item).contains(point)) {
        return std::nullopt;
    }
    return item;
}

std::optional<std::string> CContactListBar::ContactAtItem(int item) const {
    const data::ContactGroup* open = Open();
    if (open == nullptr || item < 0 || item >= static_cast<int>(open->contacts.size())) {
        return std::nullopt;
    }
    return open->contacts[static_cast<std::size_t>(item)]->id;
}

std::optional<int> CContactListBar::HeaderAt(QPoint point) const {
    for (int g = 0; g < m_list.GroupCount(); ++g) {
        if (HeaderRect(g).contains(point)) {
            return g;
        }
    }
    return std::nullopt;
}

void CContactListBar::SelectContact(const std::string& contactId) {
    const auto position = PositionOf(contactId);
    if (!position) {
        return;
    }
    OpenGroup(position->group);
    m_selected = m_list.Entry(*position);
    const int fits = std::max(1, ListArea().height() / ItemHeight());
    if (position->item < m_firstItem) {
        ScrollLines(position->item - m_firstItem);
    } else if (position->item >= m_firstItem + fits) {
        ScrollLines(position->item - m_firstItem - fits + 1);
    }
    update(ListArea());
}

std::optional<std::string> CContactListBar::SelectedContact() const {
    if (m_selected == nullptr) {
        return std::nullopt;
    }
    return m_selected->id;
}

QPushButton* CContactListBar::HeaderButton(int group) const {
    return group >= 0 && group < static_cast<int>(m_headers.size())
               ? m_headers[static_cast<std::size_t>(group)]
               : nullptr;
}

void CContactListBar::SyncHeaders() {
    const auto groups = static_cast<std::size_t>(m_list.GroupCount());
    while (m_headers.size() > groups) {
        delete m_headers.back();
        m_headers.pop_back();
    }
    while (m_headers.size() < groups) {
        auto* header = new QPushButton(this);
        header->setObjectName(QStringLiteral("groupHeader"));
        header->setFocusPolicy(Qt::NoFocus);
        header->installEventFilter(this);
        const int index = static_cast<int>(m_headers.size());
        connect(header, &QPushButton::clicked, this, [this, index] {
            if (!m_headerDragging) {
                OpenGroup(index);
            }
        });
        header->show();
        m_headers.push_back(header);
    }
    m_headerFlashing.assign(groups, false);
    for (std::size_t g = 0; g < groups; ++g) {
        const QString name = QString::fromStdString(m_list.Group(static_cast<int>(g)).name);
        // A "&" in a name is a character, not a mnemonic.
        m_headers[g]->setText(
            name.left(HeaderTextLimit).replace(QLatin1Char('&'), QStringLiteral("&&")));
        m_headers[g]->setAccessibleName(name);
        m_headers[g]->setIcon(QIcon());
    }
}

void CContactListBar::Relayout() {
    SyncHeaders();
    for (int g = 0; g < m_list.GroupCount(); ++g) {
        m_headers[static_cast<std::size_t>(g)]->setGeometry(HeaderRect(g));
    }
    const bool any = m_list.GroupCount() > 0;
    m_scrollUp->setVisible(any);
    m_scrollDown->setVisible(any);
    if (any) {
        const QRect list = ListArea();
        const int side = std::min(m_headerHeight, std::max(1, list.height() / 2));
        m_scrollUp->setGeometry(list.right() - m_headerHeight + 1, list.top(), m_headerHeight,
                                side);
        m_scrollDown->setGeometry(list.right() - m_headerHeight + 1, list.bottom() - side + 1,
                                  m_headerHeight, side);
        m_scrollUp->raise();
        m_scrollDown->raise();
    }
    ScrollLines(0);
    UpdateHeaderPictures();
    update();
}

void CContactListBar::UpdateArrows() {
    const data::ContactGroup* open = Open();
    const int count = open ? static_cast<int>(open->contacts.size()) : 0;
    const QRect list = ListArea();
    m_scrollUp->setEnabled(m_firstItem > 0);
    m_scrollDown->setEnabled((count - m_firstItem) * ItemHeight() > list.height());
}

void CContactListBar::UpdateHeaderPictures() {
    for (int g = 0; g < m_list.GroupCount() && g < static_cast<int>(m_headers.size()); ++g) {
        const bool flashing = m_list.GroupUnread(g) > 0;
        QPushButton* header = m_headers[static_cast<std::size_t>(g)];
        if (flashing) {
            header->setIcon(QIcon(m_pictures.Header(m_blinkOn)));
        } else if (m_headerFlashing[static_cast<std::size_t>(g)]) {
            header->setIcon(QIcon());
        }
        m_headerFlashing[static_cast<std::size_t>(g)] = flashing;
    }
    const bool any =
        std::find(m_headerFlashing.begin(), m_headerFlashing.end(), true) != m_headerFlashing.end();
    if (any != m_anyUnread) {
        m_anyUnread = any;
        m_host.UnreadStateChanged(any);
    }
}

void CContactListBar::AfterStructureChange() {
    // Entries that left the list take their drawing state with them.
    std::unordered_map<const data::ContactEntry*, ItemState> kept;
    for (int g = 0; g < m_list.GroupCount(); ++g) {
        for (const auto& entry : m_list.Group(g).contacts) {
            auto found = m_states.find(entry.get());
            if (found != m_states.end()) {
                kept.emplace(entry.get(), std::move(found->second));
                m_states.erase(found);
            }
        }
    }
    for (auto& [entry, state] : m_states) {
        if (state.floating) {
            // Gone from the screen at once; deleted later, as it may be handling an event.
            state.floating->hide();
            state.floating->deleteLater();
        }
    }
    m_states = std::move(kept);
    const auto gone = [this](const data::ContactEntry* entry) {
        return entry != nullptr && m_states.find(entry) == m_states.end();
    };
    if (gone(m_selected)) {
        m_selected = nullptr;
    }
    if (gone(m_hovered)) {
        m_hovered = nullptr;
    }
    if (gone(m_pressed)) {
        m_pressed = nullptr;
    }
    Relayout();
}

// --- drawing state ---

CContactListBar::ItemState& CContactListBar::State(const data::ContactEntry* entry) {
    auto found = m_states.find(entry);
    if (found != m_states.end()) {
        return found->second;
    }
    ItemState& state = m_states[entry];
    state.pictures = LoadContactPictures(m_list.LoadedAccount(), entry->id);
    state.drawn = ChoosePicture(entry->unread.load(), m_blinkOn, entry->status);
    return state;
}

const CContactListBar::ItemState* CContactListBar::FindState(const std::string& contactId) const {
    const data::ContactEntry* entry = EntryOf(contactId);
    if (entry == nullptr) {
        return nullptr;
    }
    auto found = m_states.find(entry);
    return found == m_states.end() ? nullptr : &found->second;
}

data::ContactEntry* CContactListBar::EntryOf(const std::string& contactId) const {
    const auto position = PositionOf(contactId);
    return position ? m_list.Entry(*position) : nullptr;
}

std::optional<data::ContactPosition> CContactListBar::PositionOf(
    const std::string& contactId) const {
    std::lock_guard lock(m_listMutex);
    return m_list.FindContact(contactId);
}

PictureKind CContactListBar::DrawnPicture(const std::string& contactId) const {
    const ItemState* state = FindState(contactId);
    return state ? state->drawn : PictureKind::None;
}

bool CContactListBar::DrawnOnline(const std::string& contactId) const {
    const ItemState* state = FindState(contactId);
    return state != nullptr && state->online;
}

int CContactListBar::ArrivalCounter(const std::string& contactId) const {
    const ItemState* state = FindState(contactId);
    return state ? state->animation : 0;
}

QPixmap CContactListBar::CurrentPicture(const std::string& contactId, bool large) const {
    const ItemState* state = FindState(contactId);
    if (state == nullptr || state->drawn == PictureKind::None) {
        return {};
    }
    if (state->drawn == PictureKind::Unread) {
        return m_pictures.Status(PictureKind::Unread, large);
    }
    const QPixmap& own = state->pictures.Get(state->drawn, large, state->online);
    return own.isNull() ? m_pictures.Status(state->drawn, large, state->online) : own;
}

QString CContactListBar::TooltipText(const std::string& contactId) const {
    const data::ContactEntry* entry = EntryOf(contactId);
    if (entry == nullptr) {
        return {};
    }
    const data::ContactCard card =
        data::ContactListStore(m_list.LoadedAccount()).ReadCard(contactId);
    return QString::fromStdString(FormatText(
        Text::Tooltip,
        {entry->nickname, entry->id, card.email, card.phone, card.beepPager, card.mobilePhone}));
}

void CContactListBar::SetHovered(const data::ContactEntry* entry) {
    // Only the items that change their look are repainted.
    for (const data::ContactEntry* changed : {m_hovered, entry}) {
        if (changed != nullptr) {
            RepaintContact(changed->id);
        }
    }
    m_hovered = entry;
}

void CContactListBar::RepaintContact(const std::string& contactId) {
    const auto position = PositionOf(contactId);
    if (!position) {
        return;
    }
    if (position->group == m_list.OpenGroup()) {
        const QRect rect = ItemRect(position->item);
        if (rect.intersects(ListArea())) {
            update(rect);
        }
    }
    if (FloatingContact* floating = Floating(contactId)) {
        floating->RepaintPicture();
    }
}

void CContactListBar::BlinkTick() {
    m_blinkOn = !m_blinkOn;
    m_lastBlinkRepaints.clear();
    {
        std::unique_lock lock(m_listMutex, std::try_to_lock);
        if (!lock.owns_lock()) {
            return;  // the list is being changed elsewhere: the next tick catches up
        }
        m_lastBlinkRepaints = RefreshPictures();
    }
    RepaintChanged(m_lastBlinkRepaints);
}

void CContactListBar::AnimationTick() {
    bool any = false;
    std::vector<std::string> animated;
    for (auto& [entry, state] : m_states) {
        if (state.animation > 0) {
            --state.animation;
            animated.push_back(entry->id);
            any = any || state.animation > 0;
        }
    }
    for (const auto& id : animated) {
        RepaintContact(id);
    }
    if (!any) {
        m_animationTimer->stop();
    }
}

void CContactListBar::HoverTick() {
    const QPoint point = mapFromGlobal(QCursor::pos());
    const auto item = ItemAt(point);
    const data::ContactEntry* now = item && rect().contains(point)
                                        ? Open()->contacts[static_cast<std::size_t>(*item)].get()
                                        : nullptr;
    if (now != m_hovered) {
        SetHovered(now);
    }
    if (m_hovered == nullptr) {
        m_hoverTimer->stop();
    }
}

void CContactListBar::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Relayout();
}

void CContactListBar::ShowBox(const std::string& text) const {
    ShowWarningBox(m_host.DialogParent(), text);
}

bool CContactListBar::AskYesNo(const std::string& text) const {
    return AskYesNoBox(m_host.DialogParent(), text);
}

}  // namespace talvorine::client::ui::contacts
