#include "control/entry.h"

int main(int argc, char** argv)
{
	return entry_point(argc, argv);
}
