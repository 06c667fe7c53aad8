#include "DemoMode/DemoOwner.h"

namespace bx::demo {

const std::vector<Party>& personalParties() {
    static const std::vector<Party> rows = {
        {"Jonas Berg", "jonas.berg@kestrelmail.com",
         {"Climbing on Thursday?", "Board games at ours", "That article I mentioned", "Re: weekend plans",
          "Midsummer at the lake"}},
        {"Sofia Alm", "sofia.alm@kestrelmail.com",
         {"Photos from the trip", "Recipe you asked for", "Book club — next pick", "Coffee this week?",
          "Happy name day!"}},
        {"Karin Marsh", "karin.marsh@lindenpost.net",
         {"Sunday lunch", "Pappa’s birthday", "Photos of the garden", "Did you get the parcel?",
          "Christmas plans"}},
        {"Nordvolt Energy", "billing@nordvolt.se",
         {"Your electricity invoice", "Meter reading reminder", "Your yearly summary"}},
        {"Skybridge Air", "no-reply@skybridge-air.com", {"Your trip is confirmed", "Check-in is open", "Your receipt"}},
        {"Lindholm City Library", "loans@lindholmlibrary.se",
         {"Your reserved book is ready", "Loan reminder", "Renewed: 2 items"}},
        {"Birchwood Housing Association", "board@birchwood-housing.se",
         {"Annual meeting", "Courtyard work next week", "Laundry room booking"}},
        {"Fjord Bank", "statements@fjordbank.se", {"Your monthly statement is ready", "New card on its way"}},
    };
    return rows;
}

const std::vector<Party>& newsletterParties() {
    static const std::vector<Party> rows = {
        {"Slow Mornings Weekly", "hello@slowmornings.co",
         {"The art of the slow morning", "Notebooks worth keeping", "Ten-minute rituals", "Walks, not workouts"}},
        {"The Rainy Kitchen", "letters@rainykitchen.co",
         {"Five slow recipes for a rainy Sunday", "What to cook in a heatwave", "Bread, mostly"}},
    };
    return rows;
}

const std::vector<Party>& studioParties() {
    static const std::vector<Party> rows = {
        {"Ida Kaur", "ida@embercoffee.se",
         {"Brand refresh — feedback", "Cup mockups", "Launch date", "Re: invoice question"}},
        {"Theo Lund", "theo@marshlund.studio",
         {"Studio notes", "Q planning", "New printer arrived", "Client lunch Friday?"}},
        {"Pressgården Print", "orders@pressgarden.se", {"Proofs ready", "Invoice — posters", "Paper samples"}},
        {"Harbor Hosting", "billing@harborhost.net", {"Your invoice", "Scheduled maintenance"}},
        {"Vera Holm", "vera@holmarkitekter.se", {"Signage proofs", "Wayfinding brief", "Re: final files"}},
        {"Nils Ek", "nils@nilsek.photo", {"Shoot schedule", "Selects are up", "Re: usage rights"}},
    };
    return rows;
}

}  // namespace bx::demo
