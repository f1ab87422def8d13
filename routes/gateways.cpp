#include "routes/gateways.h"

#include "common/control_word.h"
#include "common/log.h"
#include "common/settings.h"

uint32_t lanx_if;
uint32_t world_if;

void log_bad_gateway(const char* name, const char* text)
{
	log_write("Bad %s gateway specified: %s\n", name, text);
}

bool resolve_gateways(const AddressSnapshot* addresses, const RouteSnapshot* routes)
{
	if (control_word_has(CW_SHOW_INTERFACES)) {
		print_dotted(lanx_gateway);
		log_write("\n");
		print_dotted(world_gateway);
		log_write("\n");
	}

	// Both rules run afresh each cycle: a link made anew under another index is followed.
	uint32_t lanx_found = 0, world_found = 0;

	// Subnet rule: every match overwrites, so the last matching row wins.
	for (uint32_t i = 0; i < addresses->count; i++) {
		const AddressRow* a = &addresses->rows[i];
		if ((a->mask & lanx_gateway) == (a->mask & a->addr))
			lanx_found = a->index;
		if ((a->mask & world_gateway) == (a->mask & a->addr))
			world_found = a->index;
		if (control_word_has(CW_SHOW_INTERFACES)) {
			log_write("IF ID: %d(%x)\n", static_cast<int>(a->index), a->index);
			print_dotted(a->addr);
			log_write("/");
			print_dotted(a->mask);
			log_write("-> %x\n", a->index);
		}
	}

	// Host-route fallback: fills only an index still unset, so the first host route wins.
	for (uint32_t i = 0; i < routes->count; i++) {
		const RouteRow* r = &routes->rows[i];
		if (lanx_found == 0 && r->dest == lanx_gateway && r->mask == 0xFFFFFFFF)
			lanx_found = r->if_index;
		if (world_found == 0 && r->dest == world_gateway && r->mask == 0xFFFFFFFF)
			world_found = r->if_index;
	}

	// An index kept from an earlier cycle serves only when neither rule finds one now.
	if (lanx_found != 0)
		lanx_if = lanx_found;
	if (world_found != 0)
		world_if = world_found;

	if (lanx_if != 0 && world_if != 0)
		return true;
	if (lanx_if == 0)
		log_bad_gateway("LANX", lanx_gateway_text ? lanx_gateway_text : "");
	if (world_if == 0)
		log_bad_gateway("WORLD", world_gateway_text ? world_gateway_text : "");
	return false;
}
