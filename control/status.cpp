// The status file: a few lines of "name: value", replaced whole after every cycle.
#include "control/status.h"

#include <cstdio>
#include <ctime>

#include "common/control_word.h"
#include "common/settings.h"
#include "platform/http.h"
#include "platform/notify.h"
#include "platform/shared_word.h"
#include "prefix/list_download.h"
#include "routes/gateways.h"
#include "routes/reconcile.h"

// What the copy publishes after a cycle.
struct CycleStatus {
	uint32_t flags;
	uint32_t lanx_if;
	uint32_t world_if;
	uint32_t routes_of_ours;
	std::time_t ended;
	uint32_t duration_ms;
	int result;
	uint32_t changes_failed;
	uint32_t changes_made;
	uint32_t answer_status;
	uint32_t answer_bytes;
	std::time_t last_full_answer;
	char validators[256];
	const char* link;
	bool link_up;
};

// A time as "2026-12-08 02:50:01 UTC", or "never" for 0.
static void format_time(char* text, size_t size, std::time_t when)
{
	const std::tm* utc = when != 0 ? std::gmtime(&when) : nullptr;
	if (utc == nullptr || std::strftime(text, size, "%Y-%m-%d %H:%M:%S UTC", utc) == 0)
		std::snprintf(text, size, "never");
}

static void format_status(char* text, size_t size, const CycleStatus* s)
{
	char ended[32], full[32];
	format_time(ended, sizeof ended, s->ended);
	format_time(full, sizeof full, s->last_full_answer);
	const char* lanx = lanx_gateway_text != nullptr ? lanx_gateway_text : "(none)";
	const char* world = world_gateway_text != nullptr ? world_gateway_text : "(none)";
	std::snprintf(text, size,
		      "flags: 0x%x\n"
		      "lanx gateway: %s interface %u\n"
		      "world gateway: %s interface %u\n"
		      "routes of ours: %u\n"
		      "last cycle: %s, %u ms, %s, %u of %u route changes failed\n"
		      "last download: %u, %u bytes, validators %s, last 200 at %s\n"
		      "dial-up link: %s%s\n",
		      s->flags, lanx, s->lanx_if, world, s->world_if, s->routes_of_ours, ended, s->duration_ms,
		      s->result != 0 ? "unsuccessful" : "successful", s->changes_failed, s->changes_made,
		      s->answer_status, s->answer_bytes, s->validators, full, s->link != nullptr ? s->link : "none",
		      s->link == nullptr ? "" : (s->link_up ? " up" : " down"));
}

void publish_cycle_status(int result, uint32_t duration_ms, const char* link, bool link_up)
{
	CycleStatus s{};
	s.flags = control_word_read();
	s.lanx_if = lanx_if;
	s.world_if = world_if;
	s.routes_of_ours = routes_of_ours;
	s.ended = std::time(nullptr);
	s.duration_ms = duration_ms;
	s.result = result;
	s.changes_failed = route_changes_failed;
	s.changes_made = route_changes_made;
	s.answer_status = list_answer_status;
	s.answer_bytes = list_answer_bytes;
	s.last_full_answer = list_last_full_answer;
	http_kept_validators(s.validators, sizeof s.validators);
	s.link = link;
	s.link_up = link_up;

	char text[1024];
	format_status(text, sizeof text, &s);
	shared_word_publish_status(text);
	std::snprintf(text, sizeof text, "STATUS=%u routes of ours, cycle %s, %u of %u route changes failed, list %u",
		      s.routes_of_ours, result != 0 ? "unsuccessful" : "successful", s.changes_failed, s.changes_made,
		      s.answer_status);
	notify_service_manager(text);
}

static const char NO_CYCLE_YET[] = "LanxRoute is running; its first cycle has not ended yet.\n";

void publish_no_cycle_yet()
{
	shared_word_publish_status(NO_CYCLE_YET);
}

int print_status()
{
	if (!shared_word_running()) {
		std::puts("LanxRoute is not running.");
		return 3;
	}
	std::FILE* file = shared_word_open_status();
	if (file == nullptr) {
		std::fputs(NO_CYCLE_YET, stdout);
		return 0;
	}
	char buffer[1024];
	size_t n;
	while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
		std::fwrite(buffer, 1, n, stdout);
	std::fclose(file);
	return 0;
}
