// The Ethernet shield talks SPI; the fake needs nothing from it.
#pragma once
