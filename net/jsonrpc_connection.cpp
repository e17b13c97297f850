#include "net/jsonrpc_connection.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <utility>

#include "core/json_text.h"
#include "core/log.h"
#include "net/jsonrpc_p.h"

namespace quorvane::jsonrpc {

namespace {

std::vector<smart_ptr<connection>>& accepted_list() {
  static std::vector<smart_ptr<connection>> list;
  return list;
}

std::unique_ptr<Json::CharReader> new_reader() {
  Json::CharReaderBuilder builder;
  builder["allowComments"] = true;
  builder["collectComments"] = false;
  // Trailing bytes after the value (other than spaces and comments) make the payload unparsable.
  builder["failIfExtra"] = true;
  return std::unique_ptr<Json::CharReader>(builder.newCharReader());
}

// The peer's name for log lines: its address when accepted, else the handle.
std::string peer_name(const connection& c) {
  if (!c.peer_address_text().empty()) return c.peer_address_text();
  return "handle " + std::to_string(c.handle());
}

}  // namespace

namespace detail {

void add_accepted(smart_ptr<connection> c) {
  accepted_list().push_back(std::move(c));
}

bool remove_accepted(const connection* c) {
  auto& list = accepted_list();
  auto it = std::find_if(list.begin(), list.end(),
                         [c](const smart_ptr<connection>& held) { return held.get() == c; });
  if (it == list.end()) return false;
  list.erase(it);
  return true;
}

}  // namespace detail

const std::vector<smart_ptr<connection>>& accepted_connections() {
  return accepted_list();
}

std::string frame(const Json::Value& value) {
  const std::string text = compact_json(value);
  char header[64];
  const int header_length =
      std::snprintf(header, sizeof header, "%lu:", static_cast<unsigned long>(text.size()));
  std::string framed;
  framed.reserve(static_cast<size_t>(header_length) + text.size() + 1);
  framed.append(header, static_cast<size_t>(header_length));
  framed += text;
  framed += ',';
  return framed;
}

connection::connection()
    : reader_(new_reader()), buffer_(new char[initial_read_capacity]), capacity_(initial_read_capacity) {}

// Starts closed rather than opening a handle of its own only to close it for the one taken over.
connection::connection(socket& source, close_function on_close)
    : socket(socket::invalid_handle),
      on_close_(std::move(on_close)),
      reader_(new_reader()),
      buffer_(new char[initial_read_capacity]),
      capacity_(initial_read_capacity) {
  take_over(source);
}

connection::~connection() = default;

bool connection::call(Json::Value& request, result_callback callback) {
  const int32_t id = next_request_id_++;
  request["id"] = id;
  pending_[id] = std::move(callback);
  return write_message(request);
}

bool connection::write_message(const Json::Value& value) {
  if (!connected()) {
    QV_LOG(log_verbose, "Unable to send message to peer '%s': the connection is closed",
           peer_name(*this).c_str());
    return false;
  }
  const std::string framed = frame(value);
  if (!watched_on_) {
    // Nothing would tell this connection when the socket has room again: it waits here instead.
    const ssize_t sent = send(framed.data(), framed.size(), 0);
    if (sent == static_cast<ssize_t>(framed.size())) return true;
    return fail_send(errno);
  }
  // Behind bytes already waiting, the frame waits too, so that frames go out whole and in order.
  if (const size_t waiting = unsent_count(); waiting > 0) {
    if (waiting >= max_outgoing_bytes) {
      QV_LOG(log_warning,
             "Unable to send message to peer '%s': %zu bytes wait for it, it has stopped reading",
             peer_name(*this).c_str(), waiting);
      handle_close();
      return false;
    }
    outgoing_.append(framed);
    return true;
  }
  const ssize_t sent = send_available(framed.data(), framed.size());
  if (sent < 0) return fail_send(errno);
  if (static_cast<size_t>(sent) < framed.size()) {
    outgoing_.assign(framed, static_cast<size_t>(sent));
    outgoing_begin_ = 0;
    watched_on_->want_writable(this, true);
    if (holds_input_while_unsent_) watched_on_->want_readable(this, false);
  }
  return true;
}

void connection::write_queued() {
  smart_ptr<connection> self(this);
  while (outgoing_begin_ < outgoing_.size()) {
    const ssize_t sent =
        send_available(outgoing_.data() + outgoing_begin_, outgoing_.size() - outgoing_begin_);
    if (sent < 0) {
      fail_send(errno);
      return;
    }
    if (sent == 0) break;
    outgoing_begin_ += static_cast<size_t>(sent);
  }
  if (outgoing_begin_ < outgoing_.size()) {
    // The sent head goes once it is the larger part, so the queue's memory follows what still waits.
    if (outgoing_begin_ > outgoing_.size() / 2) {
      outgoing_.erase(0, outgoing_begin_);
      outgoing_begin_ = 0;
    }
    return;
  }
  std::string().swap(outgoing_);
  outgoing_begin_ = 0;
  if (watched_on_) watched_on_->want_writable(this, false);
  if (holds_input_while_unsent_) resume_input();
}

void connection::resume_input() {
  smart_ptr<connection> self(this);
  const uint64_t closes = closes_;
  const bool well_formed = process_input();
  if (closes_ != closes) return;
  if (!well_formed) {
    handle_close();
    return;
  }
  if (watched_on_ && !input_held()) watched_on_->want_readable(this, true);
}

bool connection::fail_send(int error) {
  QV_LOG(log_warning, "Unable to send message to peer '%s': %s", peer_name(*this).c_str(),
         error ? std::strerror(error) : "no progress");
  handle_close();
  return false;
}

bool connection::watch_on(runloop& loop) {
  watched_on_ = &loop;
  return loop.watch(smart_ptr<socket>(this), /*mask=*/event_readable, &connection::on_ready, this);
}

void connection::on_ready(smart_ptr<socket> s, int32_t event, void* context) {
  auto* c = static_cast<connection*>(context);
  // The handler's own reference keeps the connection alive while delegates and callbacks run.
  smart_ptr<connection> self(c);
  (void)s;
  if (event == event_writable) {
    c->write_queued();
    return;
  }
  // Input reported while it is held is the peer's hang-up or failure (a poll loop reports those whatever is
  // asked): writing the queue finds it out and closes.
  if (c->input_held()) {
    c->write_queued();
    return;
  }
  const uint64_t closes = c->closes_;
  for (;;) {
    // Answers wait for the peer: the rest of its input stays in the socket until it reads them.
    if (c->input_held()) return;
    if (c->end_ == c->capacity_) c->grow(c->capacity_ * 2);
    const ssize_t received = c->recv(c->buffer_.get() + c->end_, c->capacity_ - c->end_, 0);
    if (received > 0) {
      c->end_ += static_cast<size_t>(received);
      const bool well_formed = c->process_input();
      // A delegate that closed the connection ended this read: what follows belongs to a later connection.
      if (c->closes_ != closes) return;
      if (!well_formed) {
        c->handle_close();
        return;
      }
      continue;
    }
    if (received < 0 && errno == EINTR) continue;
    if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (received < 0) {
      QV_LOG(log_warning, "Unable to receive from peer '%s': %s", peer_name(*c).c_str(),
             std::strerror(errno));
    }
    c->handle_close();
    return;
  }
}

bool connection::deliver(const char* bytes, size_t count) {
  smart_ptr<connection> self(this);
  const uint64_t closes = closes_;
  while (count > 0) {
    if (end_ == capacity_) grow(capacity_ * 2);
    const size_t taken = std::min(count, capacity_ - end_);
    std::memcpy(buffer_.get() + end_, bytes, taken);
    end_ += taken;
    bytes += taken;
    count -= taken;
    const bool well_formed = process_input();
    if (closes_ != closes) return well_formed;
    if (!well_formed) {
      handle_close();
      return false;
    }
  }
  return true;
}

void connection::grow(size_t capacity) {
  std::unique_ptr<char[]> larger(new char[capacity]);
  const size_t unread = end_ - begin_;
  std::memcpy(larger.get(), buffer_.get() + begin_, unread);
  buffer_ = std::move(larger);
  capacity_ = capacity;
  begin_ = 0;
  end_ = unread;
}

void connection::compact() {
  if (begin_ == 0) return;
  const size_t unread = end_ - begin_;
  std::memmove(buffer_.get(), buffer_.get() + begin_, unread);
  begin_ = 0;
  end_ = unread;
}

bool connection::process_input() {
  smart_ptr<connection> self(this);
  const uint64_t closes = closes_;
  // Frames are consumed by advancing `begin_`; the unread rest moves to the front once, before returning,
  // which leaves the buffer as if it had been compacted after every frame.
  while (begin_ < end_) {
    if (input_held()) {
      compact();
      return true;
    }
    const char* data = buffer_.get() + begin_;
    const size_t pending = end_ - begin_;
    const auto* colon = static_cast<const char*>(std::memchr(data, ':', pending));
    if (!colon) {
      if (pending < 10) {
        compact();
        return true;
      }
      QV_LOG(log_warning, "Unable to read frame from peer '%s': no ':' in the first %zu bytes",
             peer_name(*this).c_str(), pending);
      return false;
    }
    const size_t digits = static_cast<size_t>(colon - data);
    size_t length = 0;
    for (size_t i = 0; i < digits; ++i) {
      if (data[i] < '0' || data[i] > '9') {
        QV_LOG(log_warning, "Unable to read frame from peer '%s': a non-digit in its length",
               peer_name(*this).c_str());
        return false;
      }
      length = length * 10 + static_cast<size_t>(data[i] - '0');
      // Checked at every digit, so the value cannot overflow and nothing of that size is ever allocated.
      if (length > max_frame_payload) {
        QV_LOG(log_warning, "Unable to read frame from peer '%s': declared length above %zu bytes",
               peer_name(*this).c_str(), max_frame_payload);
        return false;
      }
    }
    const size_t needed = digits + 1 + length + 1;
    if (capacity_ < needed) {
      grow(needed);
      return true;
    }
    if (pending < needed) {
      compact();
      return true;
    }
    if (data[needed - 1] != ',') {
      QV_LOG(log_warning, "Unable to read frame from peer '%s': no ',' after the payload",
             peer_name(*this).c_str());
      return false;
    }
    Json::Value message;
    std::string errors;
    const bool parsed = parse_payload(colon + 1, length, message, errors);
    begin_ += needed;
    if (begin_ == end_) begin_ = end_ = 0;
    if (!parsed) {
      QV_LOG(log_warning, "Unable to parse message from peer '%s': %s", peer_name(*this).c_str(),
             errors.c_str());
      return false;
    }
    dispatch(message);
    if (closes_ != closes) return true;
  }
  begin_ = end_ = 0;
  if (capacity_ > kept_read_capacity) {
    buffer_.reset(new char[initial_read_capacity]);
    capacity_ = initial_read_capacity;
  }
  return true;
}

bool connection::parse_payload(const char* text, size_t length, Json::Value& message, std::string& errors) {
  // The reader throws, rather than failing, on a value nested deeper than its stack limit; such a payload is
  // as unreadable as any other malformed one and must not unwind through the run loop.
  try {
    return reader_->parse(text, text + length, &message, &errors);
  } catch (const std::exception& failure) {
    errors = failure.what();
    message = Json::Value();
    return false;
  }
}

void connection::dispatch(Json::Value& message) {
  if (!message.isObject()) {
    QV_LOG(log_warning, "Unable to handle message from peer '%s': the payload is not a JSON object",
           peer_name(*this).c_str());
    return;
  }
  static constexpr char method_key[] = "method";
  const Json::Value* method = message.find(method_key, method_key + sizeof method_key - 1);
  if (method && !method->isNull()) {
    auto* receiver = dynamic_cast<delegate*>(get_delegate());
    if (!receiver) {
      QV_LOG(log_verbose, "Unable to handle request from peer '%s': no receiver", peer_name(*this).c_str());
      return;
    }
    smart_ptr<connection> self(this);
    reply_function reply = [self](const Json::Value& answer) {
      if (!answer.isNull()) self->write_message(answer);
    };
    receiver->request_handler(self, message, std::move(reply));
    return;
  }

  // A response. Only integer ids are ours: a text, fraction or out-of-range id cannot match any call.
  static constexpr char id_key[] = "id";
  const Json::Value* id = message.find(id_key, id_key + sizeof id_key - 1);
  if (!id || !(id->type() == Json::intValue || id->type() == Json::uintValue) || !id->isInt()) {
    QV_LOG(log_warning, "Unable to handle response from peer '%s': its id is not an integer",
           peer_name(*this).c_str());
    return;
  }
  auto entry = pending_.find(id->asInt());
  if (entry == pending_.end()) return;
  // The entry leaves before its callback runs, so a close from inside the callback cannot tell it again.
  result_callback callback = std::move(entry->second);
  pending_.erase(entry);
  if (callback) callback(message);
}

void connection::handle_close() {
  smart_ptr<connection> self(this);
  ++closes_;
  if (runloop* loop = main_runloop(); loop && loop != watched_on_) loop->unwatch(self);
  // Forgotten once unwatched: the loop may end before this object, and a later connection is watched anew.
  if (runloop* loop = std::exchange(watched_on_, nullptr)) loop->unwatch(self);
  close();
  // Before anything told of the close may write again, on a later connection.
  std::string().swap(outgoing_);
  outgoing_begin_ = 0;
  if (on_close_) {
    const close_function told = on_close_;
    told(self);
  }

  const Json::Value disconnected = close_notice();
  // The ids are taken first: calls made by these callbacks belong to the next connection.
  std::vector<int32_t> ids;
  ids.reserve(pending_.size());
  for (const auto& [id, callback] : pending_) ids.push_back(id);
  for (const int32_t id : ids) {
    auto entry = pending_.find(id);
    if (entry == pending_.end() || !entry->second) continue;
    const result_callback callback = entry->second;
    callback(disconnected);
  }

  begin_ = end_ = 0;
  detail::remove_accepted(this);
}

}  // namespace quorvane::jsonrpc
